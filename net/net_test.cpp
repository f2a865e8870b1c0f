#include "net/net.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
// After the sockets header, which must come first.
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "testing/loopback_peer.h"

namespace qova {
namespace {

// A process started while the sockets are open, asking to inherit every
// handle that may be inherited; it is ended by the destructor.
class Child {
 public:
  Child() {
#ifdef _WIN32
    // Suspended: it never runs, but it holds whatever it inherited.
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    started_ = CreateProcessA(self, nullptr, nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                              nullptr, &startup, &info_) != 0;
#else
    char sleep[] = "sleep";
    char seconds[] = "30";
    char* argv[] = {sleep, seconds, nullptr};
    started_ = posix_spawnp(&pid_, "sleep", nullptr, nullptr, argv, environ) == 0;
#endif
  }
  ~Child() {
    if (!started_) return;
#ifdef _WIN32
    TerminateProcess(info_.hProcess, 0);
    WaitForSingleObject(info_.hProcess, 5000);
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
#else
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
#endif
  }
  bool started() const { return started_; }

 private:
  bool started_ = false;
#ifdef _WIN32
  PROCESS_INFORMATION info_ = {};
#else
  pid_t pid_ = 0;
#endif
};

// A listener closed by the server is gone even while a process it started
// earlier still runs: connections to its port are refused and a new server
// can listen there. A connection it accepted and closed is closed too.
TEST(Sockets, AreNeverKeptOpenByAChildProcess) {
  ASSERT_TRUE(startSockets());
  SocketHandle listener = openStreamSocket();
  ASSERT_NE(listener, kNoSocket);
  ASSERT_TRUE(listenOn(listener, 0, 4, true));
  const uint16_t port = localPort(listener);
  ASSERT_NE(port, 0);
  SocketHandle other = openStreamSocket();
  ASSERT_NE(other, kNoSocket);
  ASSERT_TRUE(listenOn(other, 0, 4, true));
  testing::LoopbackPeer client;
  ASSERT_TRUE(client.connect(localPort(other)));
  SocketHandle accepted = acceptOn(other, nullptr);
  ASSERT_NE(accepted, kNoSocket);

  Child child;
  ASSERT_TRUE(child.started());
  closeSocket(listener);
  closeSocket(accepted);

  testing::LoopbackPeer late;
  EXPECT_FALSE(late.connect(port));
  SocketHandle again = openStreamSocket();
  ASSERT_NE(again, kNoSocket);
  EXPECT_TRUE(listenOn(again, port, 4, true));
  closeSocket(again);
  EXPECT_TRUE(client.waitClosed(5000));
  closeSocket(other);
}

}  // namespace
}  // namespace qova
