#include "geodesy/worker_chain.hpp"

#include "geodesy/point_chain.hpp"

namespace pelmo {

namespace {

ChainSettings Copy(const Session& s) {
  ChainSettings c{s.revision(), s.settings, s.OptionValues, s.MeridianCoeffs, s.grids,
                  s.decimalSign()};
  c.settings.txtDateien.clear();  // the log box is no business of the chain
  return c;
}

void Apply(Session& to, const ChainSettings& c) {
  to.settings = c.settings;
  to.OptionValues = c.options;
  to.MeridianCoeffs = c.coeffs;
  to.grids = c.grids;
  to.setDecimalSign(c.decimalSign);
  to.Touch();
}

}  // namespace

void JobSettings::Publish(const Session& main) {
  if (published_ == main.revision()) return;
  auto copy = std::make_shared<const ChainSettings>(Copy(main));
  published_ = main.revision();
  const std::lock_guard lock(mutex_);
  latest_ = std::move(copy);
}

std::shared_ptr<const ChainSettings> JobSettings::Latest() const {
  const std::lock_guard lock(mutex_);
  return latest_;
}

WorkerSession::WorkerSession(Session& main) {
  const ChainSettings c = Copy(main);
  Apply(session_, c);
  session_.asciiLayout = main.asciiLayout;
  revision_ = c.revision;
  CloneGridSteps(session_, main);
}

void WorkerSession::Follow(const ChainSettings& s) {
  if (s.revision == revision_) return;
  Apply(session_, s);
  revision_ = s.revision;
}

}  // namespace pelmo
