// Qt5Core.dll reads the C runtime's environment and argument count through
// the UCRT bridge linked into it: both must be this process's own, as the
// program's runtime sees them.
#include <QCoreApplication>
#include <QProcess>
#include <QStringList>
#include <cstdlib>
#include <gtest/gtest.h>

extern "C" int* __cdecl __p___argc(void);

TEST(QtRuntime, SeesTheProcessEnvironmentAndArguments) {
  ASSERT_EQ(_putenv("PS_BRIDGE_CHECK=seen by Qt"), 0);
  const QStringList environment = QProcess::systemEnvironment();
  EXPECT_TRUE(environment.contains(QStringLiteral("PS_BRIDGE_CHECK=seen by Qt")));
  EXPECT_EQ(environment.size(), QProcessEnvironment::systemEnvironment().keys().size());

  // Unchanged arguments are taken from the runtime's, compared by Qt first.
  int argc = *__p___argc();
  QCoreApplication application(argc, *__p___argv());
  EXPECT_EQ(QCoreApplication::arguments().size(), argc);
  EXPECT_GE(argc, 2);  // the test filter's
}
