#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backend/recording/recording_backend.h"
#include "platform/globals.h"

// Runs each test on a fresh recorder with the show's state back at its start values.
class PlatformTest : public ::testing::Test {
  protected:
    void SetUp() override {
        resetGlobals();
        useBackend(recorder.services());
    }
    void TearDown() override {
        resetGlobals();
        useBackend(Backend{});
    }

    // The lines recorded from `from` on.
    std::vector<std::string> since(size_t from) const {
        std::vector<std::string> all = recorder.lines();
        return std::vector<std::string>(all.begin() + static_cast<long>(from), all.end());
    }
    size_t mark() const { return recorder.lines().size(); }

    RecordingBackend recorder;
};
