// AtuaTarvo: applies update 01 to an installed TARVO.
#include <windows.h>

#include "app/application.h"
#include "app/startup.h"
#include "forms/un_frm_principal.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return atua::app::RunProgram(
        atua::app::ApplicationTitle(),
        [](atua::app::TApplication& application) { application.CreateForm(atua::forms::frm_principal); },
        atua::app::StartupShowState());
}
