#pragma once
// The quick search: one try per address with a short wait, then passes over
// the addresses that stayed silent. The wait is sized from the answers this
// bus has given: never shorter than any of them needed to begin, never longer
// than the line settings' own. An address where anything at all was heard (an answer,
// damaged bytes, another request's late answer naming it) gets the full
// presence request with all its attempts and the full identification, so a
// device is listed only on the answers the full search would take from it.

#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

namespace loopmon {

class TRSSession;
struct LineSettings;

class QuickScan {
 public:
  // A device that answers one request in three is heard on the third pass.
  static constexpr int Passes = 3;
  // Before any answer: about the shortest answer's wire time. A device that
  // has begun its answer by then is heard in part and gets the full request;
  // a slower one is heard late, by the next try.
  static constexpr uint32_t FirstLimitMs = 6;

  // `order` as ScanOrder gives it; each address is taken once.
  explicit QuickScan(const std::vector<uint8_t>& order);

  bool Done() const;
  // The address the next Step probes, its place in the order (from 1) and
  // the pass (1..Passes); 0 once done.
  uint8_t NextAddress() const;
  int NextIndex() const;
  int Pass() const { return pass_; }
  size_t Size() const { return order_.size(); }

  // Probes the next address on the bus. A device that identifies itself is
  // recorded in the session's table as the search records it, and its
  // description line returned; "" otherwise.
  std::string Step(TRSSession& session);

  // The wait of the next short try with these line settings.
  uint32_t LimitMs(const LineSettings& settings) const;

 private:
  void advance();
  bool settled(uint8_t address) const { return settled_.count(address) != 0; }
  void owe(uint8_t address);
  std::string fullRequest(TRSSession& session, uint8_t address);
  void learn(TRSSession& session);

  std::vector<uint8_t> order_;
  std::vector<uint8_t> pending_;  // this pass's addresses
  std::vector<uint8_t> silent_;   // for the next pass
  size_t at_ = 0;
  int pass_ = 1;
  // Addresses owed the full request, ahead of the next short try.
  std::deque<uint8_t> owed_;
  // Identified, or given the full request: never probed again.
  std::set<uint8_t> settled_;
  uint8_t previous_ = 0;
  int64_t neededMicros_ = 0;
};

}  // namespace loopmon
