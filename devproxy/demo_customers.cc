// The customers a fresh demo database starts with.
#include "devproxy/service.h"

namespace quil::devproxy {

std::vector<CustomerSeed> DemoCustomerSeeds() {
  auto make = [](const char* idno, const char* name, const char* branch, const char* account,
                 const char* pw, const char* bag, bool first,
                 std::vector<std::string> sheet) {
    CustomerSeed s;
    s.idno = idno;
    s.aid = std::string(branch) + account;
    s.name = name;
    s.branch = branch;
    s.account = account;
    s.password = pw;
    s.email = std::string("demo.") + idno + "@example.com";
    s.mobile = "0912345678";
    s.birthday = "19800101";
    s.apply_pw_bag = bag;
    s.first_login = first;
    s.sheet_codes = std::move(sheet);
    return s;
  };
  return {
      make("A123456789", "王小明", "9A00", "0000001", "demo1234", "A", false, {"AB12CD", "EF34GH"}),
      make("B223456789", "陳美玲", "9A01", "0000002", "demo1234", "B", false, {"JK56LM"}),
      make("C123456780", "林志強", "9B00", "0000003", "demo1234", "C", false, {"NP78QR"}),
      make("D223456781", "黃淑芬", "9C00", "0000004", "start123", "A", true, {"ST90UV"}),
      make("E123456782", "張建國", "9A00", "0000005", "demo1234", "C", false, {"WX12YZ"}),
  };
}

}  // namespace quil::devproxy
