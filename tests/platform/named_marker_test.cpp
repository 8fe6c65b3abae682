#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "platform/named_marker.h"
#include "scoped_temp_dir.h"

namespace loopmon {
namespace {

using testing::ScopedEnv;
using testing::ScopedTempDir;

// A child process that runs `body` and keeps the marker hold it made until the
// parent's word; the parent learns through a pipe when `body` is done.
class Child {
 public:
  using Body = std::function<bool(std::unique_ptr<MarkerHold>& hold)>;

  explicit Child(const Body& body) {
    int up[2];
    int down[2];
    if (::pipe(up) != 0 || ::pipe(down) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(up[0]);
      ::close(down[1]);
      std::unique_ptr<MarkerHold> hold;
      char result = body(hold) ? 'y' : 'n';
      if (::write(up[1], &result, 1) != 1) ::_exit(2);
      char go;
      ssize_t ignored = ::read(down[0], &go, 1);
      (void)ignored;
      // No destructors, no exit handlers: the holds must go with the process.
      ::_exit(0);
    }
    ::close(up[1]);
    ::close(down[0]);
    fromChild_ = up[0];
    toChild_ = down[1];
  }
  ~Child() {
    if (pid_ > 0) finish();
  }

  // What `body` returned.
  bool result() {
    char c = 'n';
    return ::read(fromChild_, &c, 1) == 1 && c == 'y';
  }
  void finish() {
    char go = 'g';
    if (::write(toChild_, &go, 1) != 1) ::kill(pid_, SIGKILL);
    reap();
  }
  void kill() {
    ::kill(pid_, SIGKILL);
    reap();
  }

 private:
  void reap() {
    ::waitpid(pid_, nullptr, 0);
    ::close(fromChild_);
    ::close(toChild_);
    pid_ = -1;
  }

  pid_t pid_ = -1;
  int fromChild_ = -1;
  int toChild_ = -1;
};

class Markers : public ::testing::Test {
 protected:
  bool exists(const std::string& name) { return service_->openExisting(name) != nullptr; }

  ScopedTempDir dir_;
  ScopedEnv runtime_{"XDG_RUNTIME_DIR", dir_.path()};
  std::unique_ptr<MarkerService> service_ = makeMarkerService();
};

TEST_F(Markers, ExistWhileHeldWithinOneProcess) {
  EXPECT_FALSE(exists("SIMUL"));
  bool existed = true;
  auto first = service_->create("SIMUL", existed);
  ASSERT_TRUE(first);
  EXPECT_FALSE(existed);

  auto second = service_->create("SIMUL", existed);
  ASSERT_TRUE(second);
  EXPECT_TRUE(existed);
  auto joined = service_->openExisting("SIMUL");
  EXPECT_TRUE(joined);
  EXPECT_FALSE(exists("VELTA"));

  first.reset();
  second.reset();
  EXPECT_TRUE(exists("SIMUL")) << "the joined hold keeps it";
  joined.reset();
  EXPECT_FALSE(exists("SIMUL"));
  service_->create("SIMUL", existed);
  EXPECT_FALSE(existed);
}

TEST_F(Markers, AnotherProcessSeesTheMarkerUntilItsHolderEnds) {
  Child child([](std::unique_ptr<MarkerHold>& hold) {
    bool existed = true;
    hold = makeMarkerService()->create("MutexVELTA485", existed);
    return hold && !existed;
  });
  ASSERT_TRUE(child.result());
  EXPECT_TRUE(exists("MutexVELTA485"));
  bool existed = false;
  EXPECT_TRUE(service_->create("MutexVELTA485", existed));
  EXPECT_TRUE(existed);

  child.finish();
  EXPECT_FALSE(exists("MutexVELTA485"));
}

TEST_F(Markers, VanishWhenTheHolderIsKilled) {
  Child child([](std::unique_ptr<MarkerHold>& hold) {
    bool existed = true;
    hold = makeMarkerService()->create("VELTA", existed);
    return hold != nullptr;
  });
  ASSERT_TRUE(child.result());
  EXPECT_TRUE(exists("VELTA"));
  child.kill();
  EXPECT_FALSE(exists("VELTA"));
}

TEST_F(Markers, ExactlyOneOfManySimultaneousCreatorsIsFirst) {
  constexpr int kChildren = 6;
  for (int round = 0; round < 20; ++round) {
    std::string name = "race" + std::to_string(round);
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    std::vector<std::unique_ptr<Child>> children;
    for (int c = 0; c < kChildren; ++c) {
      bool creator = c % 2 == 0;
      children.push_back(std::make_unique<Child>([&, creator](std::unique_ptr<MarkerHold>& hold) {
        char start;
        if (::read(gate[0], &start, 1) != 1) return false;
        auto service = makeMarkerService();
        if (!creator) {
          // Asking whether the marker exists must not disturb a creator.
          for (int i = 0; i < 300; ++i) service->openExisting(name);
          return false;
        }
        bool existed = true;
        hold = service->create(name, existed);
        return hold && !existed;
      }));
    }
    // All creators are waiting at the gate; open it for all at once.
    std::string starts(kChildren, 's');
    ASSERT_EQ(::write(gate[1], starts.data(), starts.size()), kChildren);
    int first = 0;
    for (auto& child : children) first += child->result() ? 1 : 0;
    EXPECT_EQ(first, 1) << name;
    ::close(gate[0]);
    ::close(gate[1]);
  }
}

}  // namespace
}  // namespace loopmon
