#pragma once
// The root object class and the event type of the runtime library.

#include <functional>

// The empty polymorphic root of the program's objects.
class TObject {
public:
  virtual ~TObject() = default;
};

// An event that passes only its sender; an empty event is skipped.
using TNotifyEvent = std::function<void(TObject* Sender)>;
