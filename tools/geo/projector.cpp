#include "geo/projector.hpp"

#include <proj.h>

#include <algorithm>
#include <thread>

#include "kit/error.hpp"

namespace geo {

Projector::Projector(const std::string& crs) : crs_(crs) {
  ctx_ = proj_context_create();
  PJ* raw = proj_create_crs_to_crs(ctx_, "EPSG:4326", crs.c_str(), nullptr);
  // Longitude first whatever the CRS's axis order, as the batches hold it.
  pj_ = raw != nullptr ? proj_normalize_for_visualization(ctx_, raw) : nullptr;
  proj_destroy(raw);
  if (pj_ == nullptr) {
    const std::string why = proj_context_errno_string(ctx_, proj_context_errno(ctx_));
    proj_context_destroy(ctx_);
    throw kit::ToolError("PROJ cannot transform to " + crs + ": " + why);
  }
}

Projector::~Projector() {
  proj_destroy(pj_);
  proj_context_destroy(ctx_);
}

void Projector::forward(std::span<double> lon_x, std::span<double> lat_y) const {
  const std::size_t n = std::min(lon_x.size(), lat_y.size());
  if (n == 0) return;
  proj_trans_generic(pj_, PJ_FWD, lon_x.data(), sizeof(double), n, lat_y.data(), sizeof(double), n,
                     nullptr, 0, 0, nullptr, 0, 0);
}

}  // namespace geo

namespace geo {

namespace {

constexpr std::size_t kBatchesPerThread = 8;

}  // namespace

unsigned worker_threads() {
  return std::max(1u, std::thread::hardware_concurrency());
}

ProjectingPipe::ProjectingPipe(const std::string& crs, unsigned threads, Consumer consume)
    : consume_(std::move(consume)) {
  for (unsigned t = 0; t < std::max(1u, threads); ++t) {
    proj_.push_back(std::make_unique<Projector>(crs));
    projectors_.push_back(
        [p = proj_.back().get()](std::span<double> x, std::span<double> y) { p->forward(x, y); });
  }
  for (Group& g : groups_)
    g.batches.resize(projectors_.size() * kBatchesPerThread);
}

ProjectingPipe::ProjectingPipe(std::vector<Projection> projections, Consumer consume)
    : projectors_(std::move(projections)), consume_(std::move(consume)) {
  if (projectors_.empty()) throw kit::ToolError("ProjectingPipe needs a projection");
  for (Group& g : groups_)
    g.batches.resize(projectors_.size() * kBatchesPerThread);
}

ProjectingPipe::~ProjectingPipe() {
  for (Group& g : groups_)
    if (g.projected.valid()) g.projected.wait();
}

void ProjectingPipe::project(Group& g) {
  const std::size_t n = g.held, threads = projectors_.size();
  const auto share = [&](std::size_t t) {
    for (std::size_t k = t; k < n; k += threads)
      projectors_[t](g.batches[k].x, g.batches[k].y);
  };
  std::vector<std::jthread> helpers;
  for (std::size_t t = 1; t < threads && t < n; ++t)
    helpers.emplace_back(share, t);
  share(0);
}

void ProjectingPipe::consume(Group& g) {
  if (g.projected.valid()) g.projected.get();
  for (std::size_t k = 0; k < g.held; ++k)
    consume_(g.batches[k].x, g.batches[k].y, g.batches[k].h);
  g.held = 0;
}

void ProjectingPipe::push(std::vector<double>& lon, std::vector<double>& lat,
                          std::vector<double>& h) {
  Group& g = groups_[filling_];
  Batch& b = g.batches[g.held++];
  b.x.swap(lon);
  b.y.swap(lat);
  b.h.swap(h);
  if (g.held < g.batches.size()) return;
  // Both groups share the projectors, which are not safe on two threads at once: the group
  // before must be projected before this one starts. It is consumed while this one projects.
  Group& before = groups_[filling_ ^ 1];
  if (before.projected.valid()) before.projected.wait();
  g.projected = std::async(std::launch::async, [this, &g] { project(g); });
  filling_ ^= 1;
  consume(before);
}

void ProjectingPipe::flush() {
  consume(groups_[filling_ ^ 1]);  // the older group first
  Group& g = groups_[filling_];
  project(g);
  consume(g);
}

}  // namespace geo
