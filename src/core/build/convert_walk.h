#pragma once

#include "platform/file_system.h"

#include <optional>

class MyFileFilter;
struct run_settings_t;
struct run_state_t;

// Thrown through the walk once a failure in an earlier file has ended the run.
struct walk_stopped {};

// The conversion's walk over settings.source into settings.destination_root: decides, in its
// fixed order, what each entry needs; converting and copying go to the pool. The walk's own
// lines stay in the pending step of state until the next file (close_walk_step ends it).
void walk_site(const run_settings_t& settings, run_state_t& state, const MyFileFilter& filter,
               const std::optional<file_identity_t>& destination, const file_identity_t& root);

// Hands the walk's pending lines and counts to the ordered log.
void close_walk_step(run_state_t& state);
