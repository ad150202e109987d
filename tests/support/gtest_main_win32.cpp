// The main function of the Windows test programs. GoogleTest on Windows
// watches the main thread from a thread of its own, which it starts without
// waiting for it to run (a race reported to GoogleTest as its number 4493).
// On a busy machine that thread may first run while the process ends and
// the runtime takes down what it uses, or Wine may stop it while Wine
// itself unloads: the 32-bit suite crashed under Wine once, after its last
// test had passed. So the process ends here at once, its output flushed,
// and nothing is taken down while that thread may run.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  int status = RUN_ALL_TESTS();
  std::fflush(nullptr);
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(status));
  return status;
}
