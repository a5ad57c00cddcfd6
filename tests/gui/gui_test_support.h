#pragma once

#include <QApplication>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

// Stands in for the user at every modal prompt: answers from the scripted values and records
// what each prompt showed. The hooks it installs point at it, so it removes them when it goes.
class ScriptedPrompts {
public:
    ScriptedPrompts() = default;
    ScriptedPrompts(const ScriptedPrompts&) = delete;
    ScriptedPrompts& operator=(const ScriptedPrompts&) = delete;
    ~ScriptedPrompts();

    // Starts afresh (see reset) and answers every prompt from here on instead of a dialog.
    void install();
    // Puts the real dialogs back.
    static void uninstall();
    // Forgets what was recorded and scripted.
    void reset();

    QStringList shown;          // every message box, as "caption | text"
    QStringList asked;          // every input box, as "caption | prompt | initial text"
    QStringList answers;        // what the user types into the next input boxes; none left means Cancel
    QStringList confirmations;  // the caption of every question
    bool confirm_answer = false;
    QStringList chooser_titles;  // the title of every folder chooser
    QString chosen_folder;       // empty: the chooser is cancelled
    QStringList opened;          // every file opened with its application
};

// A fresh home for one test program, removed at its end: HOME, XDG_CONFIG_HOME, XDG_DATA_HOME
// and XDG_RUNTIME_DIR point into it, so settings, the trash and the trees' home folder live
// there. TMPDIR is that home too, which puts each TempTree where the trees can reach it.
class IsolatedHome {
public:
    IsolatedHome();
    bool is_valid() const { return sandbox_.isValid(); }

private:
    QTemporaryDir sandbox_;
};

// The body of a Qt test program's main: the home is set before QApplication starts, so that
// nothing has read the real one yet.
template <class TestClass>
int run_isolated(int argc, char** argv) {
    const IsolatedHome home;
    if (!home.is_valid()) return 1;
    QApplication app(argc, argv);
    TestClass test;
    return QTest::qExec(&test, argc, argv);
}
