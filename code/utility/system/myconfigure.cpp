#include "code/utility/system/myconfigure.h"

#include "code/utility/text/tagtext.h"

const char* MyConfigure::DefaultContent() {
  return "<__CACHE__>\n<__SERVER_ACCESS_SETTING1__></__SERVER_ACCESS_SETTING1__>\n</__CACHE__>";
}

bool MyConfigure::RewriteText(const std::string& sOld, const char* sStartTag, const char* sEndTag,
                              const char* sValue, std::string& sNew) {
  sNew.clear();
  if (sValue == nullptr || sStartTag == nullptr || sEndTag == nullptr) return false;
  // Replace copies the text whole when the element is missing: check first.
  if (sOld.find(sStartTag) == std::string::npos) return false;
  if (!TagText::Replace(sOld.c_str(), sValue, sStartTag, sEndTag, sNew)) {
    sNew.clear();
    return false;
  }
  const std::size_t iMarker = sNew.find(kEndMarker);
  if (iMarker != std::string::npos) sNew.resize(iMarker + sizeof(kEndMarker) - 1);
  return true;
}
