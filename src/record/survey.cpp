#include "record/survey.h"

#include <array>
#include <exception>
#include <optional>
#include <utility>

#include "loops/coeffs.h"
#include "loops/loop_layout.h"
#include "loops/reading_cycle.h"
#include "search/search_procedure.h"
#include "session/bus_runner.h"
#include "session/session.h"

namespace loopmon {
namespace {

// The survey reads resistances with a point whatever the locale: the record
// keeps numbers, not texts.
constexpr char TableSeparator = '.';

// The loop table the survey reads into: one device at a time, every row
// unmarked, a single pass per view. Each row is taken into the record as soon
// as its tick has shown it.
class SurveyTable : public LoopTableView {
 public:
  explicit SurveyTable(std::function<void(const std::string&)> message)
      : message_(std::move(message)) {}

  void Reset(const DeviceRecord& device, int rows, bool adcView) {
    device_ = {device.addr, device.type, device.version};
    cells_.assign(static_cast<size_t>(rows), {});
    adcView_ = adcView;
  }

  SelectedDevice Device() const override { return device_; }
  int RowCount() const override { return static_cast<int>(cells_.size()); }
  std::string Cell(int column, int row) const override {
    return inside(column, row) ? cells_[row][column] : std::string();
  }
  void SetCell(int column, int row, const std::string& text) override {
    if (inside(column, row)) cells_[row][column] = text;
  }
  bool SkipMark(int) const override { return false; }
  bool AdcView() const override { return adcView_; }
  bool PeriodicOn() const override { return false; }
  int PeriodSeconds() const override { return 1; }
  void ClearTable() override { cells_.assign(cells_.size(), {}); }
  void SetCaption(const std::string&) override {}
  void ShowMessage(const std::string& text) override { message_(text); }

 private:
  bool inside(int column, int row) const {
    return row >= 0 && row < RowCount() && column >= 0 && column < 3;
  }

  std::function<void(const std::string&)> message_;
  SelectedDevice device_;
  std::vector<std::array<std::string, 3>> cells_;
  bool adcView_ = true;
};

enum class Phase { Searching, Reading, Finished };

}  // namespace

struct Survey::State {
  State(BusRunner& bus, const CoefficientsStore& store, SurveyObserver& observer, SurveyPlan plan)
      : bus(bus),
        observer(observer),
        plan(std::move(plan)),
        table([this](const std::string& text) {
          this->observer.Message(table.Device().DevAddr, tickLoop, text);
        }),
        cycle(table, bus, store, TableSeparator) {}

  BusRunner& bus;
  SurveyObserver& observer;
  SurveyPlan plan;
  SurveyTable table;
  ReadingCycle cycle;

  Phase phase = Phase::Searching;
  bool stopped = false;
  bool failed = false;
  size_t nextAddress = 0;
  std::vector<DeviceRecord> found;
  size_t nextDevice = 0;
  // The device whose loops are being read, and the view of its current pass.
  DeviceRecord reading;
  bool adcPass = true;
  int tickLoop = 0;
  std::vector<DeviceRecord> devices;

  void step(std::function<void(bool more)> done);
  void probe(std::function<void(bool more)> done);
  void tick(std::function<void(bool more)> done);
  // Takes the row just read into the device's record; after the last row of
  // a pass, begins the next pass or device.
  void take(int loop);
  // Begins reading the next device found that has loop rows (one without is
  // recorded as it is). False when none is left.
  bool beginDevice();
  void beginPass(bool adcView);
  void fail(const std::function<void(bool more)>& done) {
    phase = Phase::Finished;
    failed = true;
    done(false);
  }
  // Moves from the search to the reading when the addresses are through;
  // false once the survey has ended.
  bool more() {
    if (stopped) phase = Phase::Finished;
    if (phase == Phase::Searching && nextAddress == plan.addresses.size()) {
      phase = Phase::Reading;
      if (!beginDevice()) phase = Phase::Finished;
    }
    return phase != Phase::Finished;
  }
};

Survey::Survey(BusRunner& bus, const CoefficientsStore& store, SurveyObserver& observer,
               SurveyPlan plan)
    : state_(std::make_unique<State>(bus, store, observer, std::move(plan))) {}

Survey::~Survey() = default;

void Survey::Step(std::function<void(bool more)> done) {
  state_->step(std::move(done));
}

void Survey::Stop() {
  state_->stopped = true;
}

bool Survey::Finished() const {
  return state_->phase == Phase::Finished;
}

bool Survey::Stopped() const {
  return state_->stopped;
}

bool Survey::Failed() const {
  return state_->failed;
}

const std::vector<DeviceRecord>& Survey::Devices() const {
  return state_->devices;
}

void Survey::State::step(std::function<void(bool more)> done) {
  bool going = false;
  try {
    going = more();
  } catch (...) {
    fail(done);
    throw;
  }
  if (!going) {
    done(false);
  } else if (phase == Phase::Searching) {
    probe(std::move(done));
  } else {
    tick(std::move(done));
  }
}

void Survey::State::probe(std::function<void(bool more)> done) {
  const uint8_t address = plan.addresses[nextAddress];
  observer.Probing(static_cast<int>(nextAddress) + 1, static_cast<int>(plan.addresses.size()),
                   address);
  struct Found {
    bool answered = false;
    uint8_t type = 0;
    uint8_t version = 0;
  };
  auto result = std::make_shared<Found>();
  bus.run(
      [address, result, search = plan.search](TRSSession& session) {
        if (search) {
          result->answered = !IdentifyOnBus(session, address).empty();
        } else {
          result->answered = session.GetDeviceType(address) != NoDevice &&
                             session.DirectRequest({address, 6, 0, BusCommand::Presence, 0, 0}, 1);
        }
        if (!result->answered) return;
        result->type = static_cast<uint8_t>(session.GetDeviceType(address));
        result->version = session.DeviceVersion(address);
      },
      [this, address, result, done = std::move(done)](std::exception_ptr error) {
        if (error) {
          fail(done);
          std::rethrow_exception(error);
        }
        if (result->answered) {
          found.push_back(
              {address, result->type, DeviceTypeName(result->type), result->version, {}});
        }
        ++nextAddress;
        done(more());
      });
}

bool Survey::State::beginDevice() {
  while (nextDevice < found.size()) {
    reading = found[nextDevice++];
    observer.Reading(static_cast<int>(nextDevice), static_cast<int>(found.size()), reading);
    if (LoopLayoutFor(reading.type).rows > 1) {
      beginPass(true);
      return true;
    }
    // A type without loop rows: the table would still read loop 1, which
    // such a device does not have.
    devices.push_back(reading);
  }
  return false;
}

void Survey::State::beginPass(bool adcView) {
  adcPass = adcView;
  table.Reset(reading, LoopLayoutFor(reading.type).rows, adcView);
  cycle.Start();
}

void Survey::State::tick(std::function<void(bool more)> done) {
  tickLoop = cycle.CurLoop();
  cycle.Tick([this, done = std::move(done)](TickResult result) {
    if (result.failed) {
      fail(done);
      return;
    }
    bool going = false;
    try {
      take(tickLoop);
      going = more();
    } catch (...) {
      fail(done);
      throw;
    }
    done(going);
  });
}

void Survey::State::take(int loop) {
  LoopRecord values = LoopValuesOf(table, loop, TableSeparator);
  if (adcPass) {
    reading.loops.push_back(std::move(values));
  } else {
    reading.loops[static_cast<size_t>(loop) - 1].state = std::move(values.text);
  }
  if (loop < table.RowCount() - 1 || stopped) return;
  if (adcPass) {
    beginPass(false);
    return;
  }
  devices.push_back(std::move(reading));
  if (!beginDevice()) phase = Phase::Finished;
}

}  // namespace loopmon
