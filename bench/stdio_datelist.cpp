// The reference program: the C stdio listing of fechas.txt.
#include "bench/stdio_reference.hpp"

int main() {
  Date* dates = stdioLoad("fechas.txt");
  if (dates == nullptr) return 1;
  stdioList(dates, stdout);
  return 0;
}
