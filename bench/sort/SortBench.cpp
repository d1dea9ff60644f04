// Utility.SortDictionary of 1,000,000 string keys against std::sort of the
// same (key, item) pairs.

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "quillmark/utility/Utility.h"
#include "support/BenchRow.h"

int main() {
  constexpr int kKeys = 1'000'000;
  std::mt19937 random(11);
  std::uniform_int_distribution<int> letter('a', 'z');
  qm::Dictionary dictionary;
  std::vector<std::pair<std::string, int>> pairs;
  pairs.reserve(kKeys);
  while (static_cast<int>(pairs.size()) < kKeys) {
    std::string key(12, ' ');
    for (char& c : key) c = static_cast<char>(letter(random));
    if (dictionary.Exists(qm::Variant(key))) continue;
    dictionary.Add(qm::Variant(key), qm::Variant(static_cast<std::int32_t>(pairs.size())));
    pairs.emplace_back(key, static_cast<int>(pairs.size()));
  }
  std::shared_ptr<qm::Dictionary> result;
  qm::bench::Contender ours{
      "Utility.SortDictionary", [&] {
        result.reset();  // the previous run's result goes inside the timing, as the peer's copy does
        result = qm::Utility().SortDictionary(dictionary);
      }};
  qm::bench::Contender peer{"std::sort of pairs", [&] {
                              auto copy = pairs;
                              std::sort(copy.begin(), copy.end());
                            }};
  qm::bench::RunRow("sort", 1.3, ours, {peer});
  const bool sorted = std::is_sorted(result->begin(), result->end(),
                                     [](const auto& a, const auto& b) { return a.Key.String() < b.Key.String(); });
  if (!sorted || result->Count() != kKeys) qm::bench::Detail("MISMATCH: the result is not the pairs in key order");
  return 0;
}
