#include "input_box.h"

#include "user_prompts.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

InputBox::InputBox(QWidget* parent, const QString& caption, const QString& prompt, const QString& text)
    : QDialog(parent) {
    setWindowTitle(user_prompts::titled(caption));
    auto* prompt_label = new QLabel(prompt, this);
    prompt_label->setObjectName("prompt_label");
    text_edit_ = new QLineEdit(text, this);
    text_edit_->setObjectName("text_edit");
    text_edit_->setMinimumWidth(300);
    prompt_label->setBuddy(text_edit_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt_label);
    layout->addWidget(text_edit_);
    layout->addWidget(buttons);
}

QString InputBox::text() const { return text_edit_->text(); }
