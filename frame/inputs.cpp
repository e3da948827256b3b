#include "frame/inputs.h"

namespace {

InputDecl Control(const char* id, const char* name, const char* type, const char* control) {
  InputDecl decl(id, name);
  decl.With(DataType, TextID(type)).With(InputControl, TextID(control));
  return decl;
}

}  // namespace

InputDecl Label(const char* id, const char* text) {
  InputDecl decl(id, text);
  decl.With(InputControl, TextID("LabelControl")).With(InputFlag0, 0).With(InputFlag10, 1);
  return decl;
}

InputDecl Slider(const char* id, const char* name) {
  return Control(id, name, "Number", "SliderControl");
}

InputDecl Checkbox(const char* id, const char* name) {
  return Control(id, name, "Number", "CheckboxControl");
}

InputDecl Color(const char* id, const char* name) {
  return Control(id, name, "Number", "ColorControl");
}

InputDecl Choice(const char* id, const char* name, std::initializer_list<const char*> options,
                 const char* initial) {
  InputDecl decl = Control(id, name, "TextID", "MultiButtonIDControl");
  for (const char* option : options) decl.With(ChoiceText, option);
  decl.With(ChoiceFlag, 1).With(ChoiceDefault, TextID(initial));
  return decl;
}

InputDecl ImageInput(const char* id, const char* name) {
  InputDecl decl(id, name);
  decl.With(DataType, TextID("Image"));
  return decl;
}

Input* Add(Operator& op, const InputDecl& decl) {
  return op.AddInput(TextID(decl.Name(), true), TextID(decl.ID(), true), decl.Attributes());
}

Output* AddImageOutput(Operator& op) {
  return op.AddOutput(TextID("Output", true), TextID("Output", true),
                      TagList{{DataType, TextID("Image")}, {MainInput, 1}});
}
