#include "support/gui/GuiApplication.h"

#include <QApplication>
#include <QTest>
#include <QWidget>

namespace testsupport {

GuiApplication::GuiApplication() = default;
GuiApplication::~GuiApplication() = default;

void GuiApplication::SetUp()
{
    application_ = std::make_unique<QApplication>(argc_, argv_);
}

void GuiApplication::TearDown()
{
    application_.reset();
}

bool showActive(QWidget& window)
{
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowExposed(&window) && QTest::qWaitForWindowActive(&window);
}

}  // namespace testsupport
