#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <memory>
#include <ostream>

class QApplication;
class QWidget;

namespace testsupport {

// The QApplication of a GUI test process, made and ended inside the test run (a static one
// would outlive Qt's own clean-up at exit). Register it once per test executable:
//   [[maybe_unused]] auto* const kApp =
//       ::testing::AddGlobalTestEnvironment(new testsupport::GuiApplication);
class GuiApplication : public ::testing::Environment {
public:
    GuiApplication();
    ~GuiApplication() override;
    void SetUp() override;
    void TearDown() override;

private:
    int argc_ = 1;
    char name_[16] = "auralon-test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> application_;
};

// Shows a window and waits until the platform reports it exposed and active, so that focus
// changes and key events behave as for a person at the keyboard.
bool showActive(QWidget& window);

}  // namespace testsupport

// Readable Qt texts in the test failures.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* out)
{
    *out << '{';
    for (qsizetype i = 0; i < list.size(); ++i)
        *out << (i ? ", \"" : "\"") << list[i].toStdString() << '"';
    *out << '}';
}
