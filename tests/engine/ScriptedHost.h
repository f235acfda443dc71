// A host whose yields run scripted user actions, so that every re-entrant
// case (Stop at the 3rd yield, the step bar moved before point 5, ...) is a
// plain unit test. Messages are recorded and answered from a script.
#pragma once

#include "engine/Host.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace audimera {

class ScriptedHost : public Host {
public:
    struct Message {
        std::string text;
        MessageIcon icon;
        MessageButtons buttons;
    };

    // Runs action inside yield number n (counted from 1).
    void atYield(int n, std::function<void()> action) { m_atYield[n].push_back(std::move(action)); }
    // Runs action inside every yield (after the numbered ones).
    void everyYield(std::function<void()> action) { m_every.push_back(std::move(action)); }
    // Answers of the next Yes/No questions, in order; Yes when none is left.
    void answer(MessageAnswer a) { m_answers.push_back(a); }
    // Runs action while the next message box is shown.
    void onMessage(std::function<void(const Message&)> action) { m_onMessage.push_back(std::move(action)); }

    void yield() override
    {
        ++m_yields;
        auto it = m_atYield.find(m_yields);
        if (it != m_atYield.end()) {
            auto actions = std::move(it->second);
            m_atYield.erase(it);
            for (auto& a : actions)
                a();
        }
        for (auto& a : m_every)
            a();
    }

    void sleepMs(int ms) override { m_sleptMs += ms; }

    MessageAnswer message(std::string_view text, MessageIcon icon, MessageButtons buttons) override
    {
        messages.push_back(Message{std::string(text), icon, buttons});
        for (auto& a : m_onMessage)
            a(messages.back());
        if (buttons == MessageButtons::Ok)
            return MessageAnswer::Ok;
        if (m_answers.empty())
            return MessageAnswer::Yes;
        const MessageAnswer a = m_answers.front();
        m_answers.pop_front();
        return a;
    }

    int yields() const { return m_yields; }
    long long sleptMs() const { return m_sleptMs; }
    std::vector<Message> messages;

private:
    int m_yields = 0;
    long long m_sleptMs = 0;
    std::map<int, std::vector<std::function<void()>>> m_atYield;
    std::vector<std::function<void()>> m_every;
    std::deque<MessageAnswer> m_answers;
    std::vector<std::function<void(const Message&)>> m_onMessage;
};

} // namespace audimera
