// The vocabulary a tool's constructor declares its inputs with, so that it
// reads like the tool's table of inputs (here the depth divider's and the
// falloff mask's):
//
//   title_ = Add(*this, Label("ICI", "Devides Zdepth values to supress superwhites"));
//   zmax_ = Add(*this, Color("Zmax", "Pick Zmax from Remapped Z depth")
//                          .Default(1.0)
//                          .ColorGroup(1)
//                          .ColorChannel(0));
//   intensity_ = Add(*this, Slider("Intensity", "Intensity").Default(1.0));
//   mapChannel_ = Add(*this, Choice("Map Channel", "Multiply By Channel",
//                                   {"Red", "Green", "Blue", "Luminance", "Alpha"}, "Luminance"));
//   normals_ = Add(*this, ImageInput("Normals", "Normals").MainInput(1).Required());
//   output_ = AddImageOutput(*this);
//
// Each kind starts the attribute list the host expects of it (data type and
// control); every further call appends one attribute, in the order written.
#pragma once

#include <initializer_list>

#include "host/host.h"

class InputDecl {
 public:
  InputDecl(const char* id, const char* name) : id_(id), name_(name) {}

  InputDecl& Default(double value) { return With(::Default, value); }
  InputDecl& Range(double low, double high) {  // a slider range
    return With(RangeMin, low).With(RangeMax, high);
  }
  InputDecl& LowerLimit(double low) { return With(RangeMin, low); }
  InputDecl& UpperLimit(double high) { return With(LimitMax, high); }
  InputDecl& IntegerValued() { return With(Integer, 1); }
  InputDecl& ColorGroup(int group) { return With(::ColorGroup, group); }
  InputDecl& ColorChannel(int channel) { return With(::ColorChannel, channel); }
  InputDecl& GroupCaption(const char* caption) { return With(ColorGroupName, caption); }
  // Shown on the page but written by the tool itself during its render.
  InputDecl& Computed() { return With(InputFlagA, 1).With(InputFlag10, 1); }
  InputDecl& MainInput(int n) { return With(::MainInput, n); }
  InputDecl& Required() { return With(::Required, 1); }
  InputDecl& Optional() { return With(::Required, 0); }
  InputDecl& Flag0() { return With(InputFlag0, 0); }

  template <typename V>
  InputDecl& With(Tag tag, V value) {
    attrs_.Add(tag, value);
    return *this;
  }

  const char* ID() const { return id_; }
  const char* Name() const { return name_; }
  const TagList& Attributes() const { return attrs_; }

 private:
  const char* id_;
  const char* name_;
  TagList attrs_;
};

// A label: its display name is the text shown.
InputDecl Label(const char* id, const char* text);
InputDecl Slider(const char* id, const char* name);
InputDecl Checkbox(const char* id, const char* name);
InputDecl Color(const char* id, const char* name);
// A multi-choice input: its options in button order, then the option chosen
// initially.
InputDecl Choice(const char* id, const char* name, std::initializer_list<const char*> options,
                 const char* initial);
// An image input without a control. Add MainInput and, where the tool tests
// for absence, Optional.
InputDecl ImageInput(const char* id, const char* name);

// Adds the input to the operator's page; the two TextIDs live for the call.
Input* Add(Operator& op, const InputDecl& decl);
// Adds the output every tool has: "Output", an image, main input 1.
Output* AddImageOutput(Operator& op);
