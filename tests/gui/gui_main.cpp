// The window tests run as GoogleTest cases inside one QApplication on the offscreen platform,
// with preferences and runtime files in folders of their own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
    qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Orvane");
    QCoreApplication::setApplicationName("Tessara");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
