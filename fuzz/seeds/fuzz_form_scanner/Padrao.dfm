object frmPadrao: TfrmPadrao
  Left = 0
  Top = 0
  Caption = 'Tela Padrão'
  ClientHeight = 400
  ClientWidth = 600
  object panBotoes: TPanel
    Left = 520
    Top = 0
    Caption = ' '
    object btnConfirma: TSpeedButton
      Left = 4
      Top = 4
      Hint = 'Confirma a operação'
    end
    object btnSair: TSpeedButton
      Left = 4
      Top = 40
      Hint = 'Sair da tela'
    end
  end
  object lblCodTela: TLabel
    Left = 8
    Top = 380
    Caption = 'PAD00000'
  end
end
