#include "geodesy/worker_chain.hpp"

#include "geodesy/point_chain.hpp"

namespace pelmo {

ChainSettings ChainSettings::Of(const Session& s) {
  ChainSettings c{s.revision(), s.settings, s.OptionValues, s.MeridianCoeffs, s.grids,
                  s.decimalSign()};
  c.settings.txtDateien.clear();  // the log box is no business of the chain
  return c;
}

void ChainSettings::ApplyTo(Session& to) const {
  const ChainSettings& c = *this;
  to.settings = c.settings;
  to.OptionValues = c.options;
  to.MeridianCoeffs = c.coeffs;
  to.grids = c.grids;
  to.setDecimalSign(c.decimalSign);
  to.Touch();
}

void JobSettings::Publish(const Session& main) {
  if (published_ == main.revision()) return;
  auto copy = std::make_shared<const ChainSettings>(ChainSettings::Of(main));
  published_ = main.revision();
  const std::lock_guard lock(mutex_);
  latest_ = std::move(copy);
}

std::shared_ptr<const ChainSettings> JobSettings::Latest() const {
  const std::lock_guard lock(mutex_);
  return latest_;
}

WorkerSession::WorkerSession(Session& main) {
  const ChainSettings c = ChainSettings::Of(main);
  c.ApplyTo(session_);
  session_.asciiLayout = main.asciiLayout;
  revision_ = c.revision;
  CloneGridSteps(session_, main);
}

void WorkerSession::Follow(const ChainSettings& s) {
  if (s.revision == revision_) return;
  s.ApplyTo(session_);
  revision_ = s.revision;
}

}  // namespace pelmo
