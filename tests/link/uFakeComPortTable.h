#pragma once
// A port table fed by the test, installed for the life of the object.
#include "uComPortList.h"

class TFakeComPortTable : public IComPortTable {
public:
    TComNameDescriptions Entries;
    TComNameDescriptions ReadTable() override { return Entries; }
};

class TInstalledFakeTable {
public:
    TInstalledFakeTable() : Table(std::make_shared<TFakeComPortTable>()) { SetComPortTable(Table); }
    ~TInstalledFakeTable() { SetComPortTable(nullptr); }
    std::shared_ptr<TFakeComPortTable> Table;
};
