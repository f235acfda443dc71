// One analysis at a time on a thread of its own, so a window stays
// responsive while a long analysis (a waterfall, a spectrogram, the phase
// of a long impulse response) runs, shows how far it got and can stop it.
//
// The work is a function of the progress callback (AnalysisProgress): it
// reports the fraction done and stops, failing with Failure::Cancelled,
// when the callback returns false. It must own whatever it reads (capture
// its input by value, e.g. a shared_ptr<const ImpulseData>) and never touch
// the session or a QObject: the job's owner may move on while it runs.
//
// start(), cancel(), take() and the destructor belong to one thread (the
// owner's, the UI thread in the window); progress(), running() and
// finished() may be read from it at any time (the window polls them).
// Starting a new analysis cancels the one running and waits for it to end;
// so does the destructor. The work's exceptions end it as a failure.
#pragma once

#include "common/Result.h"
#include "signal/ImpulseView.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <functional>
#include <new>
#include <optional>
#include <thread>
#include <utility>

namespace audimera {

// The part of a job that does not depend on its result's type.
class AnalysisThread {
public:
    AnalysisThread(const AnalysisThread&) = delete;
    AnalysisThread& operator=(const AnalysisThread&) = delete;

    // The fraction the running (or last) analysis reported, 0 to 1.
    double progress() const { return m_progress.load(std::memory_order_relaxed); }
    // Asks the running analysis to stop: its next progress call returns
    // false. Returns at once; the analysis still ends with a result to take.
    void cancel() { m_cancel.store(true, std::memory_order_relaxed); }
    // Started and not yet finished.
    bool running() const { return m_thread.joinable() && !m_finished.load(std::memory_order_acquire); }
    // Finished, its result not yet taken.
    bool finished() const { return m_thread.joinable() && m_finished.load(std::memory_order_acquire); }

protected:
    AnalysisThread() = default;
    ~AnalysisThread() { stop(); }

    // Cancels the running analysis and waits for its thread to end.
    void stop()
    {
        cancel();
        if (m_thread.joinable())
            m_thread.join();
    }
    // Runs body on a new thread (after stop()); body stores its result
    // before it returns.
    template <typename Body>
    void launch(Body body)
    {
        stop();
        m_cancel.store(false);
        m_progress.store(0);
        m_finished.store(false);
        m_thread = std::thread([this, body = std::move(body)]() mutable {
            const AnalysisProgress progress = [this](double fraction) {
                m_progress.store(std::clamp(fraction, 0.0, 1.0), std::memory_order_relaxed);
                return !m_cancel.load(std::memory_order_relaxed);
            };
            body(progress);
            m_finished.store(true, std::memory_order_release);
        });
    }
    // After finished(): the thread is joined, and the job is idle again.
    void joinFinished() { m_thread.join(); }

private:
    std::thread m_thread;
    std::atomic<double> m_progress{0};
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_finished{false};
};

template <typename R>
class AnalysisJob : public AnalysisThread {
public:
    using Work = std::function<Result<R>(const AnalysisProgress&)>;

    AnalysisJob() = default;
    // Cancels the running analysis and waits for it.
    ~AnalysisJob() { stop(); }

    // Runs work on its own thread, after cancelling (and waiting for) the
    // one running; a result not taken is dropped.
    void start(Work work)
    {
        stop();
        m_result.reset();
        launch([this, work = std::move(work)](const AnalysisProgress& progress) { runGuarded(work, progress); });
    }

    // The finished analysis' result, once; nullopt while it runs, before
    // one started and after its result was taken.
    std::optional<Result<R>> take()
    {
        if (!finished())
            return std::nullopt;
        joinFinished();
        std::optional<Result<R>> result = std::move(m_result);
        m_result.reset();
        return result;
    }

private:
    void runGuarded(const Work& work, const AnalysisProgress& progress)
    {
        try {
            m_result.emplace(work(progress));
        } catch (const std::bad_alloc&) {
            m_result.emplace(Error::of(Failure::Other, "Not enough memory for the analysis"));
        } catch (const std::exception& e) {
            m_result.emplace(Error::of(Failure::Other, e.what()));
        } catch (...) {
            m_result.emplace(Error::of(Failure::Other, "The analysis failed"));
        }
    }

    // Written by the analysis' thread before it marks itself finished,
    // read by the owner only after finished().
    std::optional<Result<R>> m_result;
};

} // namespace audimera
