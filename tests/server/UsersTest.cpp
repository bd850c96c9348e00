// Users and roles on both backends: what each role may call (a refused call
// changes nothing), and which token stands for which user.
#include "Fixture.h"
#include "protocol/Exchange.h"
#include "protocol/Failures.h"
#include "server/Users.h"

namespace trd::server::testing {
namespace {

class Users : public ServiceTest {
 protected:
  Value CallAs(const Caller& caller, std::string_view module, std::string_view method, std::vector<Value> args) {
    return wire::DecodeResponse(
        service->Handle(wire::EncodeRequest({std::string(module), std::string(method), std::move(args)}), caller));
  }
};

TEST_P(Users, EachRoleCallsWhatItsPermissionsAllowAndARefusedCallChangesNothing) {
  for (Role role : {Role::Reader, Role::Translator, Role::Reviewer, Role::Harvester, Role::Admin}) {
    SCOPED_TRACE(std::string(RoleName(role)));
    const Caller caller{"u_" + std::string(RoleName(role)), role};
    Rec r;
    r.program = "P" + std::string(RoleName(role)).substr(0, 8);
    Apply("SetPropried", Changes({Insert(r)}));  // as the administrator

    struct Attempt {
      Permission needs;
      Value result;
    };
    Rec added = r;
    added.component = "BTNNOVO";
    const Attempt attempts[] = {
        {Permission::Read, CallAs(caller, kDfm, "GetIdiLeDfm", {})},
        {Permission::Harvest, CallAs(caller, kDfm, "SetPropried", {Changes({Insert(added)})})},
        {Permission::Translate,
         CallAs(caller, kUpd, protocol::kUpdateRelDfm,
                {r.program, r.form, r.component, r.property, std::int64_t(0), r.language, std::string("Gravar"),
                 std::string("T"), DateTime::Now()})},
    };
    for (const Attempt& a : attempts) {
      SCOPED_TRACE(std::string(PermissionName(a.needs)));
      const auto* failure = std::get_if<ServerFailure>(&a.result);
      if (Permits(role, a.needs)) {
        EXPECT_EQ(failure, nullptr) << failure->message;
      } else {
        ASSERT_NE(failure, nullptr);
        EXPECT_EQ(protocol::CodeOf(*failure), protocol::FailureCode::Refused) << failure->message;
        EXPECT_NE(failure->message.find("does not permit " + std::string(PermissionName(a.needs))),
                  std::string::npos)
            << failure->message;
      }
    }
    EXPECT_EQ(ByKey(added).rows.size(), Permits(role, Permission::Harvest) ? 1u : 0u);
    const Packet held = ByKey(r);
    ASSERT_EQ(held.rows.size(), 1u);
    EXPECT_EQ(std::get<std::string>(held.rows[0][kIdSitTraducao]), Permits(role, Permission::Translate) ? "T" : "N");
  }
}

TEST_P(Users, ATokenStandsForItsUserUntilTheUserIsDisabled) {
  std::string ana, rui;
  {
    auto s = service->Storage().Acquire();
    ana = AddUser(*s, "ana", Role::Translator);
    rui = AddUser(*s, "rui", Role::Reader);
    EXPECT_THROW(AddUser(*s, "ana", Role::Admin), UserError);
    EXPECT_THROW(AddUser(*s, std::string(51, 'x'), Role::Admin), UserError);
    EXPECT_THROW(DisableUser(*s, "ninguem"), UserError);
  }
  ASSERT_NE(ana, rui);
  for (int round = 0; round < 2; ++round) {  // the second time from the verified tokens
    auto holder = service->Identify(ana);
    ASSERT_EQ(holder.verdict, TokenVerifier::Verdict::Known);
    EXPECT_EQ(holder.caller.user, "ana");
    EXPECT_EQ(holder.caller.role, Role::Translator);
  }
  std::string forged = ana;
  forged.back() = forged.back() == '0' ? '1' : '0';
  EXPECT_EQ(service->Identify(forged).verdict, TokenVerifier::Verdict::Unknown);
  EXPECT_EQ(service->Identify("").verdict, TokenVerifier::Verdict::Unknown);
  EXPECT_EQ(service->Identify(ana.substr(0, 21)).verdict, TokenVerifier::Verdict::Unknown);

  DisableUser(*service->Storage().Acquire(), "ana");
  EXPECT_EQ(service->Identify(ana).verdict, TokenVerifier::Verdict::Disabled);
  EXPECT_EQ(service->Identify(rui).caller.user, "rui");

  auto s = service->Storage().Acquire();
  SetPassword(*s, "rui", "segredo longo");
  EXPECT_TRUE(PasswordMatches(*s, "rui", "segredo longo"));
  EXPECT_FALSE(PasswordMatches(*s, "rui", "segredo"));
  const auto users = ListUsers(*s);
  ASSERT_EQ(users.size(), 2u);
  EXPECT_FALSE(users[0].enabled);
  EXPECT_TRUE(users[1].has_password);
}

INSTANTIATE_BACKENDS(Users);

}  // namespace
}  // namespace trd::server::testing
