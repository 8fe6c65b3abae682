#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "platform/store/program_folder.h"
#include "platform/system/named_marker.h"
#include "scoped_temp_dir.h"

namespace loopmon {
namespace {

// A child process that runs `body`, tells the parent through a pipe what it
// returned and keeps the marker hold it made until it is killed.
class Child {
 public:
  explicit Child(const std::function<bool(std::unique_ptr<MarkerHold>&)>& body) {
    int up[2];
    if (::pipe(up) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      std::unique_ptr<MarkerHold> hold;
      const char result = body(hold) ? 'y' : 'n';
      if (::write(up[1], &result, 1) == 1) ::pause();
      ::_exit(0);
    }
    ::close(up[1]);
    fromChild_ = up[0];
  }
  ~Child() { kill(); }

  bool result() {
    char c = 'n';
    return ::read(fromChild_, &c, 1) == 1 && c == 'y';
  }
  // Without destructors or exit handlers: the holds must go with the process.
  void kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    ::close(fromChild_);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int fromChild_ = -1;
};

class Markers : public ::testing::Test {
 protected:
  bool exists(const std::string& name) { return service_->openExisting(name) != nullptr; }

  testing::ScopedTempDir dir_;
  testing::ScopedEnv runtime_{"XDG_RUNTIME_DIR", dir_.path()};
  std::unique_ptr<MarkerService> service_ = makeMarkerService(runtimeFolder);
};

TEST_F(Markers, ExistWhileAnyHoldIsAlive) {
  bool existed = true;
  auto first = service_->create("SIMUL", existed);
  ASSERT_TRUE(first);
  EXPECT_FALSE(existed);
  auto joined = service_->openExisting("SIMUL");
  EXPECT_TRUE(joined);
  EXPECT_FALSE(exists("VELTA"));
  first.reset();
  EXPECT_TRUE(exists("SIMUL")) << "the joined hold keeps it";
  joined.reset();
  EXPECT_FALSE(exists("SIMUL"));
}

TEST_F(Markers, AnotherProcessSeesTheMarkerUntilItsHolderDies) {
  Child child([](std::unique_ptr<MarkerHold>& hold) {
    bool existed = true;
    hold = makeMarkerService(runtimeFolder)->create("MutexVELTA485", existed);
    return hold && !existed;
  });
  ASSERT_TRUE(child.result());
  bool existed = false;
  EXPECT_TRUE(service_->create("MutexVELTA485", existed));
  EXPECT_TRUE(existed);
  child.kill();
  EXPECT_FALSE(exists("MutexVELTA485"));
}

TEST_F(Markers, ExactlyOneOfManySimultaneousCreatorsIsFirst) {
  for (int round = 0; round < 20; ++round) {
    const std::string name = "race" + std::to_string(round);
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    std::vector<std::unique_ptr<Child>> children;
    for (int c = 0; c < 6; ++c) {
      children.push_back(std::make_unique<Child>([&, c](std::unique_ptr<MarkerHold>& hold) {
        char start;
        if (::read(gate[0], &start, 1) != 1) return false;
        auto service = makeMarkerService(runtimeFolder);
        if (c % 2) {
          // Asking whether the marker exists must not disturb a creator.
          for (int i = 0; i < 300; ++i) service->openExisting(name);
          return false;
        }
        bool existed = true;
        hold = service->create(name, existed);
        return hold && !existed;
      }));
    }
    // All children wait at the gate; open it for all at once.
    ASSERT_EQ(::write(gate[1], "ssssss", 6), 6);
    int first = 0;
    for (auto& child : children) first += child->result() ? 1 : 0;
    EXPECT_EQ(first, 1) << name;
    ::close(gate[0]);
    ::close(gate[1]);
  }
}

}  // namespace
}  // namespace loopmon
