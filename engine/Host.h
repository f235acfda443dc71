// What the engine needs from the program around it: a yield to the event
// queue, a plain sleep, and modal messages. UI thread only.
#pragma once

#include <string_view>

namespace audimera {

enum class MessageIcon { None, Critical, Exclamation, Question, Information };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

class Host {
public:
    virtual ~Host() = default;

    // Processes pending window events and returns. Handlers of the controls
    // run inside this call, re-entrantly.
    virtual void yield() = 0;

    // Sleeps without processing events.
    virtual void sleepMs(int milliseconds) = 0;

    // Shows a modal message box and returns the button pressed.
    virtual MessageAnswer message(std::string_view text, MessageIcon icon,
                                  MessageButtons buttons = MessageButtons::Ok) = 0;
};

} // namespace audimera
