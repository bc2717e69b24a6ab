import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Telmora

// The sign-in sheet: e-mail and password, then the two-factor code. The Store runs the
// sign-in; the sheet shows its step and hands it what was typed.
FocusScope {
    id: sheet

    signal dismissed()

    readonly property bool working: Store.loginStep.isWorking
    readonly property bool codeForm: Store.loginStep.isCode
    readonly property bool canSubmit: codeForm ? Actions.canSendCode(codeField.text)
                                               : Actions.canSignIn(emailField.text, passwordField.text) && !working

    function submit(): void {
        if (!sheet.canSubmit)
            return
        if (sheet.codeForm) {
            if (Actions.sendCode(codeField.text))
                codeField.clear()
        } else {
            Actions.signIn(emailField.text, passwordField.text)
            passwordField.clear()
        }
    }

    objectName: "loginView"
    implicitWidth: 440
    implicitHeight: column.implicitHeight + 48
    focus: true

    Component.onCompleted: {
        emailField.text = Store.loginEmailHint
        if (emailField.text === "")
            emailField.forceActiveFocus()
        else
            passwordField.forceActiveFocus()
    }
    onCodeFormChanged: {
        if (sheet.codeForm)
            codeField.forceActiveFocus()
    }

    Keys.onReturnPressed: sheet.submit()
    Keys.onEnterPressed: sheet.submit()

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 24
        spacing: 16

        RowLayout {
            spacing: 12
            AppLogo {
                Layout.preferredWidth: 36
                Layout.preferredHeight: 36
            }
            Text {
                objectName: "loginTitle"
                Layout.fillWidth: true
                text: Store.addingAccount ? "Новый аккаунт Apple" : "Вход в аккаунт Apple"
                font.pixelSize: 18
                font.weight: Font.DemiBold
                color: Theme.text
                wrapMode: Text.Wrap
            }
        }

        RowLayout {
            objectName: "loginFailure"
            Layout.fillWidth: true
            visible: Store.loginStep.isFailed
            spacing: 8
            Icon {
                Layout.alignment: Qt.AlignTop
                symbol: "exclamationmark.triangle.fill"
                size: 15
                color: Theme.danger
            }
            TextEdit {
                objectName: "loginFailureText"
                Layout.fillWidth: true
                text: Store.loginStep.message
                color: Theme.danger
                font.pixelSize: 12
                readOnly: true
                selectByMouse: true
                selectionColor: Theme.textSelection
                wrapMode: TextEdit.Wrap
            }
        }

        // Credentials form
        ColumnLayout {
            Layout.fillWidth: true
            visible: !sheet.codeForm
            spacing: 10

            BrandTextField {
                id: emailField
                objectName: "emailField"
                Layout.fillWidth: true
                placeholderText: "Email"
                enabled: !sheet.working
                inputMethodHints: Qt.ImhEmailCharactersOnly | Qt.ImhNoAutoUppercase
                KeyNavigation.tab: passwordField
                onAccepted: sheet.submit()
            }
            RowLayout {
                Layout.fillWidth: true
                spacing: 8
                BrandTextField {
                    id: passwordField
                    objectName: "passwordField"
                    Layout.fillWidth: true
                    placeholderText: "Пароль"
                    enabled: !sheet.working
                    echoMode: showPassword.checked ? TextInput.Normal : TextInput.Password
                    onAccepted: sheet.submit()
                }
                Button {
                    id: showPassword
                    objectName: "showPassword"
                    checkable: true
                    flat: true
                    text: "Показать"
                    focusPolicy: Qt.StrongFocus
                    Accessible.name: text
                    contentItem: Text {
                        text: showPassword.text
                        font.pixelSize: 12
                        font.underline: showPassword.hovered || showPassword.visualFocus
                        color: Theme.apricotInk
                    }
                    background: Item {}
                }
            }
        }

        // Code form
        ColumnLayout {
            Layout.fillWidth: true
            visible: sheet.codeForm
            spacing: 10

            Text {
                Layout.fillWidth: true
                text: "Нажмите «Разрешить» на своём устройстве Apple и введите код оттуда."
                font.pixelSize: 13
                color: Theme.secondaryText
                wrapMode: Text.Wrap
            }
            BrandTextField {
                id: codeField
                objectName: "codeField"
                Layout.fillWidth: true
                placeholderText: "Код из 6 цифр"
                inputMethodHints: Qt.ImhDigitsOnly
                font.pixelSize: 16
                font.letterSpacing: 2
                onAccepted: sheet.submit()
            }
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: 4
            spacing: 8

            PlainButton {
                objectName: "cancelLogin"
                text: "Отмена"
                onClicked: sheet.dismissed()
            }
            Item { Layout.fillWidth: true }
            Spinner {
                visible: sheet.working
            }
            Text {
                objectName: "loginWorking"
                visible: sheet.working
                text: "Связываюсь с Apple…"
                font.pixelSize: 12
                color: Theme.secondaryText
            }
            BrandButton {
                objectName: "loginSubmit"
                text: sheet.codeForm ? "Подтвердить" : (Store.addingAccount ? "Добавить" : "Войти")
                enabled: sheet.canSubmit
                onClicked: sheet.submit()
            }
        }
    }
}
