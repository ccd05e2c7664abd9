// The load alone, for timing against the design floor's load
// (designfloor 0): fechas.txt loaded into its array, nothing listed.
#include "datelist/datefile.hpp"

int main() {
  bitwords::Date* dates = nullptr;
  return bitwords::loadDates(&dates, "fechas.txt").status == bitwords::LoadStatus::ok ? 0 : 1;
}
