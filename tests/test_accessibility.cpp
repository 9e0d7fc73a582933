// The window for the keyboard alone, for a screen reader, and in the user's
// language: the real pages, and the real window against the simulated device.
#include "app/translations.h"
#include "support/rig.h"

#include <QAccessible>
#include <QApplication>
#include <QLocale>
#include <QProgressBar>

namespace {
QString accessibleName(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QString();
}

// The names a screen reader reads of a page's labels, in its order.
QStringList namesInOrder(QWidget* page) {
    QStringList names;
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(page);
    for (int i = 0; face && i < face->childCount(); ++i)
        names << face->child(i)->text(QAccessible::Name);
    return names;
}
} // namespace

class TestAccessibility : public QObject {
    Q_OBJECT
private slots:
    void init() {
        Globals::PortName = QStringLiteral("ttyACM0");
        Device::VersionInfo = QStringLiteral("1.2.7");
        Device::WatchId = QStringLiteral("F1311520230010042357");
        Device::DeviceInfo = QStringLiteral("131152M2300101");
        Globals::AppPath = QDir::tempPath();
    }

    // Every button, label, bar and picture that a page shows has a name;
    // the device page reads each value with its caption, in its order.
    void everythingShownHasAName_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<int>("phase");
        QTest::newRow("no device") << "NoDevice" << int(UpdateEvents::Phase::Idle);
        QTest::newRow("transfer") << "NoDevice" << int(UpdateEvents::Phase::Transferring);
        QTest::newRow("device information") << "InitPage" << int(UpdateEvents::Phase::Idle);
        QTest::newRow("download") << "XModemUpdate" << int(UpdateEvents::Phase::Downloading);
    }
    void everythingShownHasAName() {
        QFETCH(QString, page);
        QFETCH(int, phase);
        UpdateEvents::instance()->setPhase(UpdateEvents::Phase(phase));
        Globals::ResultLine = QStringLiteral("Updated from 1.2.6 to 1.2.7");
        std::unique_ptr<QWidget> shown(page == "NoDevice"   ? static_cast<QWidget*>(new NoDevice())
                                       : page == "InitPage" ? static_cast<QWidget*>(new InitPage())
                                                            : new XModemUpdate());
        UpdateEvents::instance()->reset();
        Globals::ResultLine.clear();
        int named = 0;
        for (QWidget* widget : shown->findChildren<QWidget*>()) {
            if (!widget->isVisibleTo(shown.get()) ||
                !(qobject_cast<QLabel*>(widget) || qobject_cast<QAbstractButton*>(widget) ||
                  qobject_cast<QProgressBar*>(widget)))
                continue;
            QVERIFY2(!accessibleName(widget).isEmpty(), qPrintable(widget->objectName()));
            ++named;
        }
        QVERIFY(named >= 1);
        if (page != "InitPage")
            return;
        const QStringList names = namesInOrder(shown.get());
        const QStringList expected = {"Updated from 1.2.6 to 1.2.7",
                                      "Version:",
                                      "Version: 1.2.7",
                                      "D/N:",
                                      "D/N: F1311520230010042357",
                                      "Firmware:",
                                      "Firmware: 131152M2300101",
                                      "1.Update Firmware",
                                      "2.Reset"};
        QCOMPARE(names.mid(0, expected.size()), expected);
    }

    // The device page gives its main button the focus; Return, keypad Enter
    // and Alt+1 start the update as the mouse does.
    void keysStartTheUpdate_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Return") << int(Qt::Key_Return) << int(Qt::NoModifier);
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
        QTest::newRow("Alt+1") << int(Qt::Key_1) << int(Qt::AltModifier);
    }
    void keysStartTheUpdate() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        Rig rig;
        rig.window->show();
        QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
        QVERIFY(rig.identify());
        QWidget* focused = QApplication::focusWidget();
        QVERIFY(focused);
        QCOMPARE(focused->objectName(), QStringLiteral("BtnUpdate"));
        // Through the window system, as a key press arrives: shortcuts first, then
        // the widget that has the focus.
        QTest::keyClick(rig.window->windowHandle(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.service.requests().empty(), 10000);
        QCOMPARE(QString::fromStdString(rig.service.requests().front().path),
                 QStringLiteral("/common/api/check_version"));
    }

    // The user's languages choose the texts; English is the sources' own.
    void languages_data() {
        QTest::addColumn<QStringList>("languages");
        QTest::addColumn<QString>("button");
        QTest::newRow("C") << QLocale::c().uiLanguages() << "1.Update Firmware";
        QTest::newRow("English first") << QStringList{"en-GB", "de-DE"} << "1.Update Firmware";
        QTest::newRow("German") << QStringList{"de-DE"}
                                << QString::fromUtf8("1.Firmware aktualisieren");
        QTest::newRow("Simplified Chinese")
            << QStringList{"zh-Hans-CN", "zh-CN"} << QString::fromUtf8("1.更新固件");
    }
    void languages() {
        QFETCH(QStringList, languages);
        QFETCH(QString, button);
        const bool translated = !Translations::Install(languages).isEmpty();
        if (!translated && button != QLatin1String("1.Update Firmware"))
            QSKIP("the translations were not built: Qt's Linguist tools are not installed");
        InitPage page;
        Translations::Remove();
        QCOMPARE(page.findChild<QPushButton*>("BtnUpdate")->text(), button);
        InitPage english;
        QCOMPARE(english.findChild<QPushButton*>("BtnUpdate")->text(),
                 QStringLiteral("1.Update Firmware"));
    }
};

QTEST_MAIN(TestAccessibility)
#include "test_accessibility.moc"
