#include "configurations_dialog.h"

#include "settings.h"
#include "user_prompts.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

ConfigurationsDialog::ConfigurationsDialog(QWidget* parent, QSettings& store, const QString& caption)
    : QDialog(parent), store_(store) {
    setWindowTitle(user_prompts::titled(caption));
    setObjectName("configurations_dialog");
    name_list_ = new QListWidget(this);
    name_list_->setObjectName("name_list");
    name_edit_ = new QLineEdit(this);
    name_edit_->setObjectName("name_edit");
    auto* ok_button = new QPushButton(QStringLiteral("OK"), this);
    ok_button->setObjectName("ok_button");
    ok_button->setDefault(true);
    auto* cancel_button = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_button->setObjectName("cancel_button");
    rename_button_ = new QPushButton(QStringLiteral("&Rename"), this);
    rename_button_->setObjectName("rename_button");
    delete_button_ = new QPushButton(QStringLiteral("&Delete..."), this);
    delete_button_->setObjectName("delete_button");
    rename_button_->setEnabled(false);
    delete_button_->setEnabled(false);

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {ok_button, cancel_button, rename_button_, delete_button_}) buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(name_list_);
    layout->addWidget(name_edit_);
    layout->addLayout(buttons);

    connect(name_list_, &QListWidget::currentTextChanged, this, [this](const QString& name) {
        if (!name.isEmpty()) name_edit_->setText(name);
        rename_button_->setEnabled(!name.isEmpty());
        delete_button_->setEnabled(!name.isEmpty());
    });
    connect(name_list_, &QListWidget::itemDoubleClicked, this, &ConfigurationsDialog::accept);
    connect(ok_button, &QPushButton::clicked, this, &ConfigurationsDialog::accept);
    connect(cancel_button, &QPushButton::clicked, this, &QDialog::reject);
    connect(rename_button_, &QPushButton::clicked, this, &ConfigurationsDialog::rename_selected);
    connect(delete_button_, &QPushButton::clicked, this, &ConfigurationsDialog::delete_selected);
    fill_list();
    name_edit_->setFocus();
}

QString ConfigurationsDialog::chosen_name() const { return name_edit_->text().trimmed(); }

void ConfigurationsDialog::accept() {
    if (chosen_name().isEmpty()) {
        user_prompts::show_error(QStringLiteral("Configuration name must be not empty!"));
        return;
    }
    QDialog::accept();
}

void ConfigurationsDialog::fill_list() {
    name_list_->clear();
    name_list_->addItems(settings::configuration_names(store_));
}

void ConfigurationsDialog::rename_selected() {
    const QString from = name_list_->currentItem() != nullptr ? name_list_->currentItem()->text() : QString();
    if (from.isEmpty()) return;
    QString to = from;
    if (!user_prompts::ask_text(this, QStringLiteral("Rename configuration"), QStringLiteral("Configuration name:"),
                                to))
        return;
    to = to.trimmed();
    if (to.isEmpty() || to == from) return;
    if (settings::has_configuration(store_, to)) {
        user_prompts::show_error(QStringLiteral("A configuration named \"%1\" exists already").arg(to));
        return;
    }
    settings::rename_configuration(store_, from, to);
    fill_list();
    name_edit_->setText(to);
}

void ConfigurationsDialog::delete_selected() {
    const QString name = name_list_->currentItem() != nullptr ? name_list_->currentItem()->text() : QString();
    if (name.isEmpty() || !user_prompts::confirm(this, QStringLiteral("Delete configuration"),
                                                 QStringLiteral("Delete the configuration \"%1\"?").arg(name)))
        return;
    settings::remove_configuration(store_, name);
    fill_list();
    name_edit_->clear();
}
