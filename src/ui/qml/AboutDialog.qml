import QtQuick
import QtQuick.Layouts
import Telmora

// The About panel: logo, name, version and the credits.
Sheet {
    id: about

    objectName: "aboutDialog"
    width: 400
    onOpened: closeButton.forceActiveFocus()

    ColumnLayout {
        anchors.fill: parent
        spacing: 6

        AppLogo {
            Layout.alignment: Qt.AlignHCenter
            Layout.preferredWidth: 72
            Layout.preferredHeight: 72
            Layout.bottomMargin: 6
        }
        Text {
            Layout.alignment: Qt.AlignHCenter
            text: "Telmora"
            font.pixelSize: 18
            font.weight: Font.Bold
            color: Theme.text
        }
        Text {
            objectName: "aboutVersion"
            Layout.alignment: Qt.AlignHCenter
            text: "Версия " + Store.currentVersion
            font.pixelSize: 12
            color: Theme.secondaryText
        }
        Text {
            objectName: "aboutCredits"
            Layout.fillWidth: true
            Layout.topMargin: 12
            text: "Скачивает приложения, доступные на вашем аккаунте Apple, и ставит их на iPhone по кабелю. С Apple не связано."
                  + "<br><br>Сторонние компоненты и их лицензии перечислены в файле "
                  + "<a href=\"third-party\">THIRD_PARTY.txt</a> внутри приложения."
            textFormat: Text.StyledText
            linkColor: Theme.apricotInk
            font.pixelSize: 11
            color: Theme.secondaryText
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            lineHeight: 1.15
            onLinkActivated: Desktop.openThirdPartyNotice()

            HoverHandler {
                cursorShape: parent.hoveredLink !== "" ? Qt.PointingHandCursor : Qt.ArrowCursor
            }
        }
        PlainButton {
            id: closeButton
            objectName: "aboutClose"
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 14
            text: "Закрыть"
            onClicked: about.close()
        }
    }
}
