#pragma once
// The survey of a bus for the site record: the search over a list of
// addresses, then every loop of every device found in both views (the ADC
// reading with its resistance or text, and the state text), exactly as the
// loop table reads them, a line controller's 127 numbers included.
//
// It runs step by step like the windows' search and reading cycle: each step
// is one exchange handed to the host's BusRunner (an address probed, or one
// loop read in one view), and its follow-up comes back on the host's thread.
// loopctl runs the steps back to back on an InlineBus; a window runs them on
// its bus thread and stays responsive, with a stop button that takes effect
// between two steps.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "record/site_record.h"

namespace loopmon {

class BusRunner;
class CoefficientsStore;

struct SurveyPlan {
  // The addresses in the order they are probed; ScanOrder (search_procedure.h)
  // gives the search's.
  std::vector<uint8_t> addresses;
  // True: each address is identified anew, and the session's device table
  // takes what answers, as a search does. False: only the devices the table
  // already holds (a search made just before) are read, each that still
  // answers the presence request.
  bool search = true;
  // With a search: the quick search (quick_search.h) instead of the full one.
  bool quick = false;
};

// Told on the host's thread as the survey moves on.
class SurveyObserver {
 public:
  virtual ~SurveyObserver() = default;
  // `address`, the index-th of `count` (from 1), is about to be probed.
  virtual void Probing(int index, int count, uint8_t address) = 0;
  // The index-th of the `count` devices found (from 1) is about to be read.
  virtual void Reading(int index, int count, const DeviceRecord& device) = 0;
  // What the loop table would show in a message box while reading `loop`
  // (a line controller's unexpected answer or unknown line device).
  virtual void Message(uint8_t address, int loop, const std::string& text) = 0;
};

class Survey {
 public:
  // `store` gives the coefficients of each device, as a reading's start does.
  Survey(BusRunner& bus, const CoefficientsStore& store, SurveyObserver& observer, SurveyPlan plan);
  ~Survey();
  Survey(const Survey&) = delete;
  Survey& operator=(const Survey&) = delete;

  // One step: hands one exchange to the bus and calls `done` on the host's
  // thread once it has ended, with true while further steps follow; the host
  // then calls Step again (at once, or from its timer). A failure ends the
  // survey: `done` gets false and the error (an exchange's, or a broken
  // coefficients section's) goes on to the host. The Survey must outlive a
  // step on the bus.
  void Step(std::function<void(bool more)> done);

  // Ends the survey at the next step boundary: a step on the bus still ends,
  // then `done` gets false. The device whose loops were being read is left
  // out of Devices().
  void Stop();

  bool Finished() const;
  bool Stopped() const;
  // Ended by a failed exchange or a broken coefficients section: Devices()
  // holds only what was read before it.
  bool Failed() const;
  // Every device read whole, in the order the search found them, with its
  // loops in both views.
  const std::vector<DeviceRecord>& Devices() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace loopmon
