#pragma once
// common/ holds what every layer of Ормелин shares and nothing that belongs to one of them:
//  - number parsing: the one rule by which every field, cell and file line becomes an integer;
//  - Windows-1251 text: every text that reaches a file or the serial line is bytes in that code
//    page, converted by a maintained converter (ICU through Qt), never by a table of our own;
//  - the operator interface: the few ways the logic talks to the person at the bench, which the
//    window implements and tests script;
//  - failures: the typed failure base and the guard every entry point from Qt runs under;
//  - file paths: the length limit of the file layer and the platform's file-name encoding.
#include "common/cp1251.h"
#include "common/failure.h"
#include "common/filepath.h"
#include "common/numparse.h"
#include "common/operatorui.h"
