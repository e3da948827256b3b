#include "frame/tool.h"

TagList RegistrationTags(const ToolRecord& rec, const ScriptInfo* script, const ResColor* tile) {
  TagList tags;
  tags.Add(RegInitFunc, reinterpret_cast<const void*>(&Operator::RegInit))
      .Add(RegCleanupFunc, reinterpret_cast<const void*>(&Operator::RegCleanup))
      .Add(RegInt0, 3)
      .Add(RegBuildText, rec.buildText)
      .Add(RegBaseClass, static_cast<const void*>(&ThreadedOperator::ClassID))
      .Add(RegScriptInfo, static_cast<const void*>(script))
      .Add(RegFactory, reinterpret_cast<const void*>(rec.factory))
      .Add(RegInt4, rec.regInt4)
      .Add(RegName, rec.name)
      .Add(RegCategory, rec.category)
      .Add(RegShortName, rec.shortName)
      .Add(RegDescription, rec.description);
  if (rec.regInt3) tags.Add(RegInt3, *rec.regInt3);
  if (rec.regInt19) tags.Add(RegInt19, *rec.regInt19);
  tags.Add(RegInt1B, 1).Add(RegTileColor, static_cast<const void*>(tile));
  return tags;
}
