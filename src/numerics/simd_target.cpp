#include "numerics/simd_target.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "numerics/hwy_config.h"
// After hwy_config.h, so that HWY_TARGETS is the kernels' set.
#include "hwy/targets.h"

namespace numerics {
namespace {

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return out;
}

// Highway's name of `name`, resolving the aliases. The portable fallback
// is EMU128, or SCALAR where the compiler cannot build EMU128 (GCC before
// 12.3): either name means whichever is compiled in.
std::string Canonical(std::string_view name) {
  std::string upper = Upper(name);
  if (upper == "AVX512") return "AVX3";
  if (upper == "SCALAR" || upper == "EMU128") {
    return hwy::TargetName(HWY_TARGETS & (HWY_SCALAR | HWY_EMU128));
  }
  return upper;
}

}  // namespace

std::vector<SimdTarget> AvailableSimdTargets() {
  std::vector<SimdTarget> targets;
  for (const std::int64_t bit : hwy::SupportedAndGeneratedTargets()) {
    targets.push_back({bit, hwy::TargetName(bit)});
  }
  return targets;
}

SimdTarget ActiveSimdTarget() { return AvailableSimdTargets().front(); }

void RestrictSimdTargets(std::int64_t target) {
  hwy::SetSupportedTargetsForTest(target);
}

bool RestrictSimdTargetsTo(std::string_view name) {
  const std::string wanted = Canonical(name);
  // Every target Highway may compile for, to tell an unknown name from one
  // this processor lacks; lower bits are better targets.
  std::int64_t wanted_bit = 0;
  for (int bit = 0; bit < 63; ++bit) {
    const std::int64_t target = std::int64_t{1} << bit;
    if (wanted == hwy::TargetName(target)) wanted_bit = target;
  }
  if (wanted_bit == 0) return false;
  hwy::SetSupportedTargetsForTest(0);
  std::int64_t allowed = 0;
  for (const SimdTarget& target : AvailableSimdTargets()) {
    if (target.Bit >= wanted_bit) allowed |= target.Bit;
  }
  // Nothing at or below the name (a foreign instruction set): the lowest.
  if (allowed == 0) allowed = AvailableSimdTargets().back().Bit;
  hwy::SetSupportedTargetsForTest(allowed);
  return true;
}

}  // namespace numerics
