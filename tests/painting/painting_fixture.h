#pragma once
// The recording backend behind every service, with one device, for the painting tests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backend/recording/recording_backend.h"
#include "platform/globals.h"

using Lines = std::vector<std::string>;

class PaintingTest : public ::testing::Test {
  protected:
    void SetUp() override { useBackend(recorder.services()); }
    // A fatal error clears the run flag; the next test starts afresh.
    void TearDown() override {
        useBackend(Backend{});
        resetGlobals();
    }

    // Labelled device1; the lines that made it are cleared.
    Direct3DDevice9* makeDevice() {
        D3DPRESENT_PARAMETERS present{};
        Direct3DDevice9* made = nullptr;
        Direct3DCreate9(D3D_SDK_VERSION)
            ->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0, &present, &made);
        recorder.clearLines();
        return made;
    }

    Lines takeLines() {
        Lines lines = recorder.lines();
        recorder.clearLines();
        return lines;
    }

    RecordingBackend recorder;
};
