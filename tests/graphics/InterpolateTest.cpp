#include <gsl/gsl_spline.h>
#include <gtest/gtest.h>

#include <cmath>

#include "graphics/RecordingSurface.h"
#include "quillmark/errors/Error.h"
#include "quillmark/graphics/Interpolate.h"
#include "quillmark/graphics/Spline.h"
#include "support/ErrorOf.h"

namespace {

using qm::Variant;
using qm::VariantArray;
using qm::test::RaisedBy;

Variant Samples(std::vector<double> values, std::int32_t lower = 0) {
  std::vector<Variant> items(values.begin(), values.end());
  return Variant(VariantArray::FromVector(std::move(items), lower));
}

std::vector<double> Values(const Variant& result) {
  std::vector<double> out;
  for (const auto& v : result.Array().Data()) out.push_back(qm::CDbl(v));
  return out;
}

TEST(Interpolate, ResamplesTheKnownCasesAndTheSmallOnes) {
  qm::Interpolate interp;
  auto hump = Samples({0, 1, 0});
  EXPECT_EQ(Values(interp.InterpCub(hump, 2)), (std::vector<double>{0, 0.6875, 1, 0.6875, 0}));

  auto ramp = Samples({0, 10});
  const Variant lin = interp.InterpLin(ramp, 4);
  EXPECT_EQ(Values(lin), (std::vector<double>{0, 2.5, 5, 7.5, 10}));
  // Two samples: the spline is the straight line.
  EXPECT_EQ(Values(interp.InterpCub(ramp, 4)), Values(lin));

  // The lower bound is kept; small cases.
  auto five = Samples({1, 3, 2}, 5);
  for (const Variant& r : {interp.InterpCub(five, 3), interp.InterpLin(five, 3)}) {
    EXPECT_EQ(r.Array().LBound(), 5);
    EXPECT_EQ(r.Array().UBound(), 5 + 2 * 3);
  }
  // One sample: a one-element array at lb.
  auto one = Samples({7}, 5);
  EXPECT_EQ(Values(interp.InterpCub(one, 4)), std::vector<double>{7});
  EXPECT_EQ(interp.InterpLin(one, 4).Array().LBound(), 5);
  // No samples: Empty for both.
  Variant none{VariantArray()};
  EXPECT_TRUE(interp.InterpCub(none, 4).IsEmpty());
  EXPECT_TRUE(interp.InterpLin(none, 4).IsEmpty());
  // Precision 0: the first sample (cubic) or the last one (linear).
  auto three = Samples({4, 5, 6});
  EXPECT_EQ(Values(interp.InterpCub(three, 0)), std::vector<double>{4});
  EXPECT_EQ(Values(interp.InterpLin(three, 0)), std::vector<double>{6});
  // Precision 1: a copy, as Doubles for the spline; the linear copy keeps the samples' own type.
  Variant ints(VariantArray::FromVector({Variant(std::int16_t{2}), Variant(std::int16_t{9})}));
  const Variant copy = interp.InterpCub(ints, 1);
  EXPECT_EQ(Values(copy), (std::vector<double>{2, 9}));
  EXPECT_EQ(copy.Array().Data()[0].VarType(), qm::vbDouble);
  EXPECT_EQ(interp.InterpLin(ints, 1).Array().Data()[1].VarType(), qm::vbInteger);
}

TEST(Interpolate, AgreesWithAnIndependentNaturalSpline) {
  std::vector<double> y;
  for (int i = 0; i < 40; ++i) y.push_back(std::sin(i * 0.7) * 50 + i);
  std::vector<double> x(y.size());
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>(i);
  gsl_interp_accel* acc = gsl_interp_accel_alloc();
  gsl_spline* spline = gsl_spline_alloc(gsl_interp_cspline, y.size());
  gsl_spline_init(spline, x.data(), y.data(), y.size());

  qm::Interpolate interp;
  auto samples = Samples(y, 3);
  const auto ours = Values(interp.InterpCub(samples, 7));
  ASSERT_EQ(ours.size(), 39u * 7 + 1);
  for (std::size_t k = 0; k < ours.size(); ++k) {
    const double at = static_cast<double>(k) / 7;
    EXPECT_NEAR(ours[k], gsl_spline_eval(spline, at, acc), 1e-9) << "at " << at;
    if (k % 7 == 0) {
      EXPECT_EQ(ours[k], y[k / 7]);  // knots hit the samples exactly
    }
  }
  gsl_spline_free(spline);
  gsl_interp_accel_free(acc);
}

TEST(Interpolate, RejectsBadInputWithClearErrors) {
  qm::Interpolate interp;
  Variant notArray(3.0);
  auto e = RaisedBy([&] { interp.InterpCub(notArray, 2); });
  EXPECT_EQ(e.Number(), 9999);
  EXPECT_EQ(e.Description(), "InArray must be an array");
  EXPECT_EQ(e.Source(), "QuillmarkLibrary.Interpolate|[Interpolate]Public Function InterpCub(?, 2)");

  auto text = Variant(VariantArray::FromVector({Variant(1.0), Variant("abc"), Variant(2.0)}));
  EXPECT_EQ(RaisedBy([&] { interp.InterpCub(text, 2); }).Number(), 13);
  EXPECT_EQ(RaisedBy([&] { interp.InterpLin(text, 2); }).Number(), 13);

  auto two = Samples({1, 2});
  EXPECT_EQ(RaisedBy([&] { interp.InterpCub(two, -1); }).Number(), 9);

  // Counts beyond the 16-bit range are refused rather than wrapped.
  Variant many(VariantArray({{0, 32767}}));
  e = RaisedBy([&] { interp.InterpCub(many, 1); });
  EXPECT_EQ(e.Number(), 6);
  EXPECT_NE(e.Description().find("32767"), std::string::npos);
  Variant most(VariantArray({{0, 32766}}));
  for (auto& v : most.Array().Data()) v = 1.0;
  EXPECT_EQ(RaisedBy([&] { interp.InterpLin(most, 32767); }).Number(), 6);
  // Output indices are 32-bit: 32767 samples at precision 2 pass 32767 and work.
  EXPECT_EQ(interp.InterpCub(most, 2).Array().UBound(), 65532);
}

TEST(DrawCurve, DrawsTenPiecesPerIntervalThroughTheSamples) {
  auto surface = std::make_shared<qm::test::RecordingSurface>();
  Variant color(std::int32_t{255});
  auto values = Samples({0, 1, 0, 2});
  qm::mdlSpline::DrawCurve(*surface, Variant(100.0), Variant(10.0), values, color);
  ASSERT_EQ(surface->Calls.size(), 1u + 10 * 3);
  EXPECT_EQ(surface->Calls.front(), "Line(0, 100, 0, 100, 0, 255)");
  EXPECT_TRUE(surface->Calls[10].ends_with(", 110, 1, 255)")) << surface->Calls[10];
  EXPECT_TRUE(surface->Calls.back().ends_with(", 130, 2, 255)")) << surface->Calls.back();

  surface->Calls.clear();
  auto single = Samples({5});
  qm::mdlSpline::DrawCurve(*surface, Variant(3.0), Variant(10.0), single, color);
  EXPECT_EQ(surface->Calls, std::vector<std::string>{"Line(0, 3, 5, 3, 5, 255)"});

  surface->Calls.clear();
  Variant empty{VariantArray()};
  qm::mdlSpline::DrawCurve(*surface, Variant(0.0), Variant(1.0), empty, color);
  EXPECT_TRUE(surface->Calls.empty());

  Variant tooMany(VariantArray({{0, 32767}}));
  EXPECT_EQ(RaisedBy([&] { qm::mdlSpline::DrawCurve(*surface, Variant(0.0), Variant(1.0), tooMany, color); }).Number(),
            6);
  auto e = RaisedBy([&] {
    qm::Dispatch nothing;
    qm::mdlSpline::DrawCurve(nothing, Variant(0.0), Variant(1.0), values, color);
  });
  EXPECT_EQ(e.Number(), 438);
  EXPECT_EQ(e.Source(), "QuillmarkLibrary|[Spline]Public Sub DrawCurve(?, ?, ?, ?, ?)");
}

}  // namespace
