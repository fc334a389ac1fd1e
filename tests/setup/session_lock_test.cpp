// The session lock on real mutexes under Wine (another thread plays the second setup, since a mutex can be taken
// again by the thread that holds it), and its failure paths through replaced calls. Each test uses its own
// mutex name, so that no setup running at the same time is disturbed.
#include "setup/session_lock.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <utility>

namespace qmt {
namespace {

std::wstring testMutexName() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string name = info->name();
  return L"Local\\Quillmart-Setup-test-" + std::wstring(name.begin(), name.end()) + L"-" +
         std::to_wstring(GetCurrentProcessId());
}

// What another thread gets when it tries the mutex `name` without waiting; it releases what it got, or, with
// `abandon`, ends holding it.
DWORD tryFromAnotherThread(const std::wstring& name, bool abandon = false) {
  DWORD result = WAIT_FAILED;
  std::thread other([&] {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    result = WaitForSingleObject(mutex, 0);
    if (!abandon && (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)) ReleaseMutex(mutex);
    CloseHandle(mutex);
  });
  other.join();
  return result;
}

TEST(SessionLockTest, AbandonedMutexIsTakenHeldAndReleasedAtTheEnd) {
  const std::wstring name = testMutexName();
  HANDLE keepAlive = CreateMutexW(nullptr, FALSE, name.c_str());  // the name outlives the abandoning thread
  ASSERT_EQ(tryFromAnotherThread(name, true), static_cast<DWORD>(WAIT_OBJECT_0));
  std::optional<SessionLock> lock(acquireSessionLock(name.c_str()));
  EXPECT_TRUE(lock->held()) << "an abandoned mutex counts as free";
  EXPECT_EQ(tryFromAnotherThread(name), static_cast<DWORD>(WAIT_TIMEOUT));
  // Moving hands the mutex on; the moved-from owner releases nothing.
  SessionLock moved = std::move(*lock);
  lock.reset();
  EXPECT_EQ(tryFromAnotherThread(name), static_cast<DWORD>(WAIT_TIMEOUT));
  moved = SessionLock();
  // Released before its handle was closed: the next holder finds it free, not abandoned.
  EXPECT_EQ(tryFromAnotherThread(name), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(keepAlive);
}

// The calls made by the lock, with scripted outcomes.
struct ScriptedMutex {
  bool createFails = false;
  DWORD waitResult = WAIT_OBJECT_0;
  int waits = 0, releases = 0;
  HANDLE created = nullptr;
};
ScriptedMutex script;

HANDLE WINAPI scriptedCreate(LPSECURITY_ATTRIBUTES, BOOL, LPCWSTR) {
  if (script.createFails) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return script.created = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}
DWORD WINAPI scriptedWait(HANDLE, DWORD) {
  ++script.waits;
  return script.waitResult;
}
BOOL WINAPI scriptedRelease(HANDLE) {
  ++script.releases;
  return TRUE;
}

TEST(SessionLockTest, OutcomesOfCreatingAndWaitingThroughSeam) {
  // A mutex that cannot be created or waited for leaves the setup unguarded instead of blocking it.
  const struct {
    const char* name;
    bool createFails;
    DWORD waitResult;
    bool held;
    int waits;
  } cases[] = {
      {"acquired", false, WAIT_OBJECT_0, true, 1},
      {"abandoned by its holder", false, WAIT_ABANDONED, true, 1},
      {"wait failed", false, WAIT_FAILED, false, 1},
      {"not created", true, WAIT_OBJECT_0, false, 0},
  };
  const SessionLockCalls calls{scriptedCreate, scriptedWait, scriptedRelease};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    script = {};
    script.createFails = c.createFails;
    script.waitResult = c.waitResult;
    {
      const SessionLock lock = acquireSessionLock(L"Local\\unused", calls);
      EXPECT_EQ(lock.held(), c.held);
      EXPECT_EQ(script.waits, c.waits);
    }
    EXPECT_EQ(script.releases, c.held ? 1 : 0);
    if (script.created) {
      DWORD flags = 0;
      EXPECT_FALSE(GetHandleInformation(script.created, &flags)) << "the handle is closed";
    }
  }
}

}  // namespace
}  // namespace qmt
