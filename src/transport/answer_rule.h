#pragma once
// Whether an answer can be the answer to the request it came for. The engine
// takes an answer only from the device it asked; the callers that take a value
// out of an answer (the reading cycle, the search, the worker's subscriptions,
// loopctl) ask AnswerFitsRequest before they do, so that an answer owed to
// another request never shows as this one's value.
//
// Requests are the plain six bytes the session's callers hand in: Address,
// Length, Modifier, Command, Data, Data (no checksum, not keyed). Answers are
// as the session keeps them (`Answer`, `LastAnswer`): bit 7 of the Address
// dropped, descrambled, checksum included.

#include "transport/frame.h"

namespace loopmon {

// Bit 7 of either address (the keyed form) is not part of the device's address.
bool FromAskedAddress(uint8_t requestAddress, uint8_t answerAddress);

// The answer to an ADC read (command 0x1B, or 0x39 with data 4): exactly 6
// bytes, Code 0x1C, or Code 0x3A with offset 3 = 4. The reading is offset 4.
bool IsAdcAnswer(const Bytes& answer);
// A device's refusal of an ADC read: exactly 6 bytes, Code 0x3A, offset 3 = 0,
// offset 4 = 2. An answer to the request, but no reading.
bool IsAdcRefusal(const Bytes& answer);
// The answer to the loop-kind request (command 0x39 with data 1): at least 6
// bytes, Code 0x3A, offset 3 = 1. The kind is offset 4.
bool IsLoopKindAnswer(const Bytes& answer);
// The answer to the device-type request (command 0x0D): at least 6 bytes,
// Code 0. Type at offset 3, version at offset 4.
bool IsIdentityAnswer(const Bytes& answer);

// True when `answer` comes from the device `request` asked and, for the
// requests above, has the form that carries the value asked for. Any other
// request (presence, loop state, a raw request) takes any answer of at least
// 6 bytes from its device: what it says is the caller's to judge.
//
// The line controller's kind answer (0x39 with data 1) fits only with class 1;
// the reading cycle, which also shows the class-0 condition and a message for
// another Code, decodes that answer itself rather than asking here.
bool AnswerFitsRequest(const Bytes& request, const Bytes& answer);

}  // namespace loopmon
