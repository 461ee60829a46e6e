#include "control/front/module.h"


namespace {
Module* gCurrent = nullptr;
}

Module::Module() {
    if (!gCurrent) gCurrent = this;
}

Module::~Module() {
    if (gCurrent == this) gCurrent = nullptr;
}

Module& Module::Current() {
    if (!gCurrent) gCurrent = new Module();  // the loaded module, for the life of the process
    return *gCurrent;
}


void Module::MakeCurrent() { gCurrent = this; }
