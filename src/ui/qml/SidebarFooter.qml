import QtQuick

// The account footer's place at the bottom of the sidebar: the connected iPhone, a waiting
// update and the account menu are shown here.
Item {
    objectName: "sidebarFooter"
    implicitHeight: 12
}
