#include "indicator_test_util.h"

#include "testenv.h"

#include <QWindow>
#include <gtest/gtest.h>

std::unique_ptr<QWidget> MakeShownWindow(int width, int height, QColor background) {
    auto window = std::make_unique<QWidget>();
    window->setFixedSize(width, height);
    window->setAutoFillBackground(true);
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, background);
    window->setPalette(palette);
    window->show();
    EXPECT_TRUE(WaitUntil([&] { return window->windowHandle() && window->windowHandle()->isExposed(); }));
    return window;
}

QImage GrabRgb(QWidget* widget) {
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

std::string Rgb(QRgb pixel) {
    return "(" + std::to_string(qRed(pixel)) + "," + std::to_string(qGreen(pixel)) + "," +
           std::to_string(qBlue(pixel)) + ")";
}
