// The widget tests share one QApplication on the offscreen platform.
#include <QApplication>

#include <gtest/gtest.h>

#include "app/program.h"
#include "fake_web_view.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The program's own application object: its event boundary reports faults (tested).
    hanabira::Application app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8("VUVarovaduro Hanabira 2号"));
    // Windows made by the widget tests never start Chromium; the WebEngine tests ask for it.
    testing_support::UseFakeWebViews();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
