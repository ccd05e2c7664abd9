// appendDate's results as std::error_code, in the library's words.
#include <string>
#include <system_error>

#include "datelist/datefile.hpp"
#include "datelist/loadresult.hpp"

namespace bitwords {
namespace {

// appendDate's errno values in words.
class AppendCategory final : public std::error_category {
 public:
  [[nodiscard]] const char* name() const noexcept override { return "bitwords.append"; }
  [[nodiscard]] std::string message(int error) const override { return reasonText(error); }
  [[nodiscard]] std::error_condition default_error_condition(int error) const noexcept override {
    return std::generic_category().default_error_condition(error);
  }
};

}  // namespace

const std::error_category& appendCategory() noexcept {
  static const AppendCategory category;
  return category;
}

}  // namespace bitwords
