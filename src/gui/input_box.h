#pragma once

#include <QDialog>

class QLineEdit;

// A small modal dialog asking for one line of text: a prompt, an edit box, OK and Cancel.
class InputBox : public QDialog {
    Q_OBJECT
public:
    InputBox(QWidget* parent, const QString& caption, const QString& prompt, const QString& text);
    QString text() const;

private:
    QLineEdit* text_edit_;
};
