#include "surveying/Surveying.h"

namespace zel::surveying {

ReconciledSurveys::ReconciledSurveys(Surveys surveys) : surveys_(std::move(surveys)) {}

} // namespace zel::surveying
