#pragma once
// The pages' instruction transactions: the interrupt-notice waits (each page
// registers its own pair of codes and its status panel) and the one send path of a
// page instruction on top of the engine's start().
#include <QString>
#include <array>
#include <cstdint>

#include "app/ui/PageHost.h"

class PageSender {
 public:
  explicit PageSender(PageHost& host) : host_(host) {}
  // `waiting` moves to `received` on an interrupt notice; the outcome shows on `panel`.
  void registerNoticeWait(std::uint8_t waiting, std::uint8_t received, TPanel* panel);
  bool send(const PageTransaction& t);
  bool sendInstruction(std::string_view label, std::uint8_t opcode, const tessaly::Bytes& data, TPanel* panel,
                       std::uint8_t waitingCode, const QString& errorText, TMemo* readMemo);

 private:
  // What the last send of each waiting code shows when it cannot go out.
  struct Failure {
    TPanel* panel = nullptr;
    QString text;
  };
  void showFailure(std::uint8_t waiting) const;

  PageHost& host_;
  std::array<Failure, 256> failures_{};
};
