// The class table (handles are 1-based). Only what the rest of the VM asks of it is declared
// here; the class system fills it in.
#pragma once

#include <cstdint>

uint16_t vl_clsCount();
const char* vl_clsName(uint16_t handle);        // "" for an invalid handle
const char* vl_clsModuleName(uint16_t handle);  // module of the class's defining function, or null
void vl_clsReleaseAll();

struct VlSymbol;
struct VlItem;
// Sends a message through the class system when self (already in the frame) has a class or a
// scalar class; false when the class system does not handle the value.
bool vl_clsDispatch(VlSymbol* message, uint16_t argc);
