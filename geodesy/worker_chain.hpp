// The point chain on worker threads. A job on several threads gives every
// worker a session of its own, with its own converted settings and grid
// handles and no front end: messages, questions and the event pass stay
// with the calling thread's session. The calling thread publishes the
// session's settings whenever they change during the job (the options
// dialog is modeless); a worker takes the latest when it starts a block.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "core/frontend.hpp"
#include "core/settings.hpp"

namespace pelmo {

/// What the point chain reads from a session, copied at one revision.
struct ChainSettings {
  std::uint64_t revision = 0;
  TransformSettings settings;
  OptionTable options{};
  MeridianCoeffArray coeffs{};
  std::array<GridSlot, 2> grids;
  char decimalSign = '.';

  /// The settings of `s` now (the log box left out).
  static ChainSettings Of(const Session& s);
  /// Gives `to` these settings (its converted forms follow).
  void ApplyTo(Session& to) const;
};

/// The settings of a running job as its workers see them.
class JobSettings {
 public:
  explicit JobSettings(const Session& main) { Publish(main); }
  /// On the calling thread: takes the session's settings when they changed
  /// since the last call (cheap when they did not).
  void Publish(const Session& main);
  /// On a worker: the settings last published.
  std::shared_ptr<const ChainSettings> Latest() const;

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const ChainSettings> latest_;
  std::uint64_t published_ = 0;  // calling thread only
};

/// The session of one worker thread.
class WorkerSession {
 public:
  /// On the calling thread: the settings of `main`, and handles of its own
  /// for the grids `main` has opened.
  explicit WorkerSession(Session& main);
  WorkerSession(const WorkerSession&) = delete;
  WorkerSession& operator=(const WorkerSession&) = delete;

  /// On the worker: takes `s` when the session holds older settings.
  void Follow(const ChainSettings& s);
  Session& session() noexcept { return session_; }

 private:
  /// No messages and no event pass on a worker.
  SilentFrontEnd fe_;
  Session session_{fe_};
  std::uint64_t revision_ = 0;
};

}  // namespace pelmo
