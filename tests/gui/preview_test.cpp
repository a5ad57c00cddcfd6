#include "app_preferences.h"
#include "folders_tree.h"
#include "main_window.h"
#include "serve/live_reload.h"
#include "settings.h"
#include "temp_tree.h"

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <httplib.h>

namespace {
QStringList log_lines(const MainWindow& window) {
    QStringList lines;
    const auto* list = window.findChild<QListWidget*>("log_list");
    for (int row = 0; row < list->count(); ++row) lines << list->item(row)->text();
    return lines;
}
}  // namespace

class PreviewTest : public QObject {
    Q_OBJECT
private slots:
    // Preview builds the site, serves it with the live-reload script, keeps it in step with
    // the source, and stops serving on a second press.
    void preview_serves_the_site_until_pressed_again() {
        qputenv("BROWSER", "true");  // a browser that opens nothing
        settings::open().clear();
        init_preferences();
        TempTree t;
        t.write("src/index.shtml", "<body><!--#include virtual=\"part.inc\" --></body>");
        t.write("src/part.inc", "hello");
        MainWindow window;
        QVERIFY(window.findChild<FoldersTree*>("source_tree")->select_path(t.path("src")));
        QVERIFY(window.findChild<FoldersTree*>("destination_tree")->select_path(t.make_dir("dst")));
        auto* preview = window.findChild<QPushButton*>("preview_button");
        QTest::mouseClick(preview, Qt::LeftButton);
        QVERIFY(preview->isChecked());
        QTRY_VERIFY(log_lines(window).contains("Watching " + QString::fromStdString(t.path("src")) + " for changes"));
        const QStringList serving = log_lines(window).filter("Serving the site at http://127.0.0.1:");
        QVERIFY2(serving.size() == 1, qPrintable(log_lines(window).join("\n")));
        QVERIFY(!window.findChild<QPushButton*>("convert_button")->isEnabled());
        QVERIFY(!window.findChild<QPushButton*>("watch_button")->isEnabled());

        const int port = serving.front().section(':', -1).chopped(1).toInt();
        httplib::Client client("127.0.0.1", port);
        const auto page = client.Get("/");
        QVERIFY(page && page->status == 200);
        QVERIFY2(page->body.starts_with("<body>hello<script src=\"/__orrinfold/live.js\""), page->body.c_str());
        QCOMPARE(read_file(t.path("dst/index.shtml")), std::string("<body>hello</body>"));

        QTest::mouseClick(preview, Qt::LeftButton);
        QVERIFY(!preview->isChecked());
        QCOMPARE(log_lines(window).last(), QStringLiteral("Stopped previewing"));
        QVERIFY(!client.Get("/"));  // no longer served
        QVERIFY(window.findChild<QPushButton*>("watch_button")->isEnabled());
    }
};

QTEST_MAIN(PreviewTest)
#include "preview_test.moc"
