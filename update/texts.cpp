// Compiled with the execution character set Windows-1252: the literals below are the program's
// byte strings.
#include "update/atualiza_movimento.h"

namespace atua::update {

namespace {
constexpr char kUnexpected[] = "Erro inesperado. Sistema não atualizado.";
}  // namespace

const std::string& UpdateTexts::Question() {
    static const std::string text = "O TARVO será atualizado.  Continuar?";
    return text;
}

// A line break inside a message is a single carriage return.
const std::string& UpdateTexts::NotInstalled() {
    static const std::string text =
        std::string(kUnexpected) + "\r" + "É necessário instalar o TARVO antes de executar a atualização.";
    return text;
}

const std::string& UpdateTexts::ProductRunning() {
    static const std::string text = std::string(kUnexpected) + "\r" +
                                    "Atenção: O TARVO nao pode estar sendo executado no momento da atualização";
    return text;
}

const std::string& UpdateTexts::Success() {
    static const std::string text = "Atualização executada com sucesso.";
    return text;
}

}  // namespace atua::update
