#include "core/errors.hpp"

namespace pelmo {

std::string RunTimeErrorText(int number) {
  switch (number) {
    case errnum::kInvalidArgument: return "Ungültiger Prozeduraufruf oder ungültiges Argument";
    case errnum::kOverflow: return "Überlauf";
    case errnum::kOutOfRange: return "Index außerhalb des gültigen Bereichs";
    case errnum::kDivisionByZero: return "Division durch Null";
    case errnum::kTypeMismatch: return "Typen unverträglich";
    case errnum::kOutOfStringSpace: return "Nicht genügend Zeichenfolgenspeicher";
    case errnum::kUserInterrupt: return "Benutzerunterbrechung aufgetreten";
    case errnum::kInvalidOperation: return "Ungültige Gleitkommaoperation";
    case errnum::kIoError: return "Fehler beim Lesen oder Schreiben der Datei";
    case errnum::kDiskFull: return "Datenträger voll";
    case errnum::kPastEndOfFile: return "Einlesen hinter Dateiende";
    case errnum::kFileNotFound: return "Datei nicht gefunden";
    case errnum::kPermissionDenied: return "Zugriff verweigert";
    case errnum::kPathFileAccess: return "Fehler beim Zugriff auf Pfad/Datei";
    case errnum::kPathNotFound: return "Pfad nicht gefunden";
    default: return "Anwendungs- oder objektdefinierter Fehler";
  }
}

RunTimeError::RunTimeError(int number)
    : std::runtime_error(RunTimeErrorText(number)), number_(number) {}

RunTimeError::RunTimeError(int number, const std::string& detail)
    : std::runtime_error(detail.empty() ? RunTimeErrorText(number)
                                        : RunTimeErrorText(number) + ": " + detail),
      number_(number) {}

namespace {
int NumberOf(FaultKind kind) {
  switch (kind) {
    case FaultKind::kDivisionByZero: return errnum::kDivisionByZero;
    case FaultKind::kOverflow: return errnum::kOverflow;
    case FaultKind::kInvalidOperation: return errnum::kInvalidOperation;
    case FaultKind::kInvalidArgument: return errnum::kInvalidArgument;
  }
  return errnum::kInvalidOperation;
}
}  // namespace

FloatingPointFault::FloatingPointFault(FaultKind kind)
    : RunTimeError(NumberOf(kind)), kind_(kind) {}

}  // namespace pelmo
