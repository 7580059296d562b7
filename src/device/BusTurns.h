#pragma once
// Turns on one controller's SDI bus, exchange by exchange. The bus carries one
// exchange at a time: from a request's send until its answer arrives (or its wait
// ends). The sessions of the boards behind one controller share its BusTurns, so
// their sequences run side by side and take turns only while a datagram is on the
// bus, not during an answer's hand-over, between steps or while a flash is waited out.
//
//   ticket = turns.request([&](BusTurns::Ticket t) { held = t; send(); });
//   ... answer arrived, or time-out, send failure, cancel: turns.release(ticket);
//
// `go` runs at once when the bus is free, else once every earlier request has had
// its turn (first come, first served). Each ticket is released once: a second
// release, or one of a ticket already passed on, does nothing; releasing a ticket
// still waiting drops its request, which then never runs. Single-threaded, no Qt.
#include <cstdint>
#include <deque>
#include <functional>
#include <utility>

namespace tessaly {

class BusTurns {
 public:
  using Ticket = std::uint64_t;  // never 0

  BusTurns() = default;
  BusTurns(const BusTurns&) = delete;
  BusTurns& operator=(const BusTurns&) = delete;

  // Queues `go`; runs it (and whatever was queued behind a turn given back meanwhile)
  // before returning when the bus is free. The ticket is `go`'s argument too.
  Ticket request(std::function<void(Ticket)> go);
  // Ends the turn `t`, or drops its request while it waits.
  void release(Ticket t);
  // Drops every request still waiting (none of them runs); the holder keeps its turn.
  void dropWaiting() { queue_.clear(); }
  // Whether `t` holds the bus now.
  bool holds(Ticket t) const { return t != 0 && holder_ == t; }
  bool busy() const { return holder_ != 0; }
  std::size_t waiting() const { return queue_.size(); }

 private:
  void dispatch();

  Ticket last_ = 0;
  Ticket holder_ = 0;
  bool dispatching_ = false;
  std::deque<std::pair<Ticket, std::function<void(Ticket)>>> queue_;
};

}  // namespace tessaly
