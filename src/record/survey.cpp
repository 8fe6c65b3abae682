#include "record/survey.h"

#include <exception>
#include <optional>
#include <utility>

#include "loops/coeffs.h"
#include "loops/loop_layout.h"
#include "loops/reading_cycle.h"
#include "search/quick_search.h"
#include "search/search_procedure.h"
#include "session/bus_runner.h"
#include "session/device_names.h"
#include "session/session.h"

namespace loopmon {
namespace {

enum class Phase { Searching, Reading, Finished };

}  // namespace

struct Survey::State {
  State(BusRunner& runner, const CoefficientsStore& coefficientStore, SurveyObserver& watcher,
        SurveyPlan chosen)
      : bus(runner), observer(watcher), store(coefficientStore), plan(std::move(chosen)) {
    if (this->plan.search && this->plan.quick)
      quick = std::make_shared<QuickScan>(this->plan.addresses);
  }

  BusRunner& bus;
  SurveyObserver& observer;
  const CoefficientsStore& store;
  SurveyPlan plan;

  Phase phase = Phase::Searching;
  bool stopped = false;
  bool failed = false;
  size_t nextAddress = 0;
  // Shared with the step on the bus, which alone moves it on.
  std::shared_ptr<QuickScan> quick;
  std::vector<DeviceRecord> found;
  size_t nextDevice = 0;
  // The device whose loops are being read, the view of its current pass and
  // the loop read next; the ADC pass's readings wait for the state pass's.
  DeviceRecord reading;
  Coefficients coefficients;
  int loopRows = 0;
  bool adcPass = true;
  int nextLoop = 1;
  std::vector<LoopReading> adcReadings;
  std::vector<DeviceRecord> devices;

  void step(std::function<void(bool more)> done);
  void probe(std::function<void(bool more)> done);
  void tick(std::function<void(bool more)> done);
  // Takes the loop just read into the device's record; after the last loop
  // of a pass, begins the next pass or device.
  void take(const LoopReading& loopReading);
  // Begins reading the next device found that has loop rows (one without is
  // recorded as it is). False when none is left.
  bool beginDevice();
  void fail(const std::function<void(bool more)>& done) {
    phase = Phase::Finished;
    failed = true;
    done(false);
  }
  // Moves from the search to the reading when the addresses are through;
  // false once the survey has ended.
  bool more() {
    if (stopped) phase = Phase::Finished;
    const bool searched = quick ? quick->Done() : nextAddress == plan.addresses.size();
    if (phase == Phase::Searching && searched) {
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
  const uint8_t address = quick ? quick->NextAddress() : plan.addresses[nextAddress];
  const int index = quick ? quick->NextIndex() : static_cast<int>(nextAddress) + 1;
  observer.Probing(index, static_cast<int>(plan.addresses.size()), address);
  struct Found {
    bool answered = false;
    uint8_t type = 0;
    uint8_t version = 0;
  };
  auto result = std::make_shared<Found>();
  bus.run(
      [address, result, search = plan.search, quick = quick](TRSSession& session) {
        if (quick) {
          result->answered = !quick->Step(session).empty();
        } else if (search) {
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
    loopRows = LoopLayoutFor(reading.type).rows;
    if (loopRows > 1) {
      coefficients = store.Lookup(reading.type, reading.version);
      adcPass = true;
      nextLoop = 1;
      adcReadings.clear();
      return true;
    }
    // A type without loop rows: the table would still read loop 1, which
    // such a device does not have.
    devices.push_back(reading);
  }
  return false;
}

void Survey::State::tick(std::function<void(bool more)> done) {
  const LoopRequestOf request{reading.addr, reading.type, nextLoop,
                              adcPass ? ReadingKind::Adc : ReadingKind::State, coefficients};
  ReadLoop(bus, request,
           [this, done = std::move(done)](std::exception_ptr error, const LoopReading& value) {
             if (error) {
               fail(done);
               std::rethrow_exception(error);
             }
             bool going = false;
             try {
               if (value.message) observer.Message(value.address, value.loop, *value.message);
               take(value);
               going = more();
             } catch (...) {
               fail(done);
               throw;
             }
             done(going);
           });
}

void Survey::State::take(const LoopReading& loopReading) {
  if (adcPass) {
    adcReadings.push_back(loopReading);
  } else {
    reading.loops.push_back(LoopRecordOf(adcReadings[reading.loops.size()], loopReading));
  }
  if (++nextLoop < loopRows || stopped) return;
  nextLoop = 1;
  if (adcPass) {
    adcPass = false;
    return;
  }
  devices.push_back(std::move(reading));
  if (!beginDevice()) phase = Phase::Finished;
}

}  // namespace loopmon
