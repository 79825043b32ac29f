#pragma once

// A stand-in for the compression engine. Files whose name contains "fail"
// fail, files whose name contains "hold" wait until release() (or until their
// job is told to stop, which cancels it), and every other file "shrinks" to
// half its size without anything being written.

#include "CompressionError.h"
#include "JobCancellation.h"
#include "JobQueue.h"

#include <QFileInfo>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace vantro::testing {

class FakeEngine {
public:
    FakeEngine() = default;
    FakeEngine(const FakeEngine&) = delete;
    FakeEngine& operator=(const FakeEngine&) = delete;
    // Lets held calls finish, so a queue that is being destroyed can end.
    ~FakeEngine() { release(); }

    // Shares its state with this object, so it may outlive it.
    JobQueue::EngineFunction function() const
    {
        return [state = m_state](const QString& path, const CompressionSettings& settings) -> CompressionResult {
            const QString name = QFileInfo(path).fileName();
            std::unique_lock lock(state->mutex);
            state->settingsSeen.push_back(settings);
            if (name.contains(QStringLiteral("hold"))) {
                ++state->holding;
                state->changed.notify_all();
                // The stop flag raises no signal of its own: look at it often.
                while (!state->changed.wait_for(lock, std::chrono::milliseconds(5),
                                                [&] { return state->released || JobCancellation::requested(); })) {}
                --state->holding;
                if (!state->released)
                    throw JobCancelled();
            }
            if (name.contains(QStringLiteral("fail")))
                throw CompressionError::corruptFile(QStringLiteral("Could not read ") + name);
            return CompressionResult{.originalSize = 200'000, .compressedSize = 100'000, .outputPath = path};
        };
    }

    void release()
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->released = true;
        m_state->changed.notify_all();
    }

    // True once `count` calls are held.
    bool waitUntilHolding(int count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const
    {
        std::unique_lock lock(m_state->mutex);
        return m_state->changed.wait_for(lock, timeout, [&] { return m_state->holding >= count; });
    }

    // The settings of every call so far, in the order the calls began.
    std::vector<CompressionSettings> settingsSeen() const
    {
        const std::lock_guard lock(m_state->mutex);
        return m_state->settingsSeen;
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        bool released = false;
        int holding = 0;
        std::vector<CompressionSettings> settingsSeen;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace vantro::testing
