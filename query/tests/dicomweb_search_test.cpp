// The study search over QIDO-RS against a scripted service: a server that pages its answers is
// followed to the end, one that ignores the offset does not make the search go on for ever.
#include <gtest/gtest.h>

#include "query/studyquery.h"
#include "tests/support/dicomweb_stub.h"

namespace {

TEST(QidoSearch, PagesAreFollowedToTheEndAndAServerIgnoringTheOffsetEndsIt) {
  testsupport::DicomWebStub stub;
  ASSERT_TRUE(stub.Started());
  for (const auto& [behaviour, rows] : {std::pair{"paged", 5}, std::pair{"stuck", 2}}) {
    AssociationTarget target;
    target.web.enabled = true;
    target.web.url = stub.Url(behaviour);
    std::vector<std::string> ids;
    SearchOutcome end;
    EXPECT_EQ(SearchStudies(QueryFields{}, target, [&](const StudyInfo& s) { ids.push_back(s.PatientID); }, {}, &end),
              rows)
        << behaviour;
    EXPECT_EQ(end.status, 0) << end.problem;
    EXPECT_EQ(ids.size(), size_t(rows));
    if (rows == 5) {
      EXPECT_EQ(ids, (std::vector<std::string>{"P0", "P1", "P2", "P3", "P4"}));
    }
  }
}

}  // namespace
