// Hooks for tests of the settings store and of the code above it; the program never calls them.
#pragma once

namespace orv::store {

// Drops everything read from disk so the next access reads the files again (tests point
// ORVANE_CONFIG_DIR at a fresh folder between cases).
void ResetForTests();

// The profile's part of ResetForTests.
void ResetProfileForTests();

}  // namespace orv::store
