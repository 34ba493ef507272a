#include "support/gui/GuiApplication.h"

#include <QApplication>
#include <QTest>
#include <QWidget>

// Under AddressSanitizer: GCC 12's leak checker guesses the bounds of dynamic TLS blocks
// from a header glibc no longer writes, and now and then scans a wild range at exit and
// crashes (seen after libjpeg, which Qt's JPEG reader loads, touched its TLS). Without the
// interception the blocks are still found, as heap blocks reachable from the thread's DTV.
// Environment settings (ASAN_OPTIONS) still come on top of this default.
extern "C" const char* __asan_default_options()
{
    return "intercept_tls_get_addr=0";
}

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
