#pragma once

#include <atomic>
#include <thread>

// The four phases of every image, in the order the bars show them, and the
// share of an image's part of the total bar that each one takes.
enum Phase { ErasePhase, WritePhase, ReadBackPhase, ComparePhase, PhaseCount };

inline constexpr float phaseShare[PhaseCount] = {0.05f, 0.88f, 0.04f, 0.03f};
// Sums of the earlier shares, added in single precision as the bars expect.
inline constexpr float phaseStart[PhaseCount] = {0.0f, phaseShare[0], phaseShare[0] + phaseShare[1],
                                                 phaseShare[0] + phaseShare[1] + phaseShare[2]};

// The stages of a run as a person follows them.
enum class RunStage { Starting, Comparing, Erasing, Writing, Verifying, FinalCheck };

// Where a run is: set by the run's thread as it goes, read by whoever shows the
// run when it needs to, without a report of its own.
struct RunProgress
{
    std::atomic<int> image{0}; // counted from 1, from the first image's erasing on
    std::atomic<RunStage> stage{RunStage::Starting};

    struct Where
    {
        int image;
        RunStage stage;
    };

    // The run's thread only: erasing begins the next image, and the image and
    // its stage change as one.
    void enter(RunStage next)
    {
        changes.fetch_add(1);
        if (next == RunStage::Erasing)
            image.fetch_add(1);
        stage.store(next);
        changes.fetch_add(1);
    }

    // Both as one pair, never the next image with the last image's stage,
    // which would name the wrong image to whoever tells it.
    Where where() const
    {
        for (;;) {
            const unsigned before = changes.load();
            const Where now{image.load(), stage.load()};
            if (before % 2 == 0 && changes.load() == before)
                return now;
            std::this_thread::yield();
        }
    }

private:
    std::atomic<unsigned> changes{0}; // odd while enter() is under way
};
