object frmFornecedor: TfrmFornecedor
  Left = 200
  Top = 120
  Caption = 'Cadastro de Fornecedores'
  ClientHeight = 480
  ClientWidth = 700
  object nbkFornecedor: TNotebook
    Left = 0
    Top = 0
    object TPage
      Left = 0
      Top = 0
      Caption = 'Default'
      object lblRazao: TLabel
        Left = 8
        Top = 8
        Caption = 'Raz'#227'o social'
      end
    end
    object TPage
      Left = 0
      Top = 0
      Caption = 'Contatos'
      object lblTelefone: TLabel
        Left = 8
        Top = 8
        Caption = 'Telefone para contato'
      end
    end
  end
  object pgcDados: TPageControl
    Left = 0
    Top = 240
    ActivePage = tbsGeral
    object tbsGeral: TTabSheet
      Caption = 'Dados gerais'
    end
    object tbsEndereco: TTabSheet
      Caption = 'Endere'#231'o'
      object hdcEndereco: THeaderControl
        Left = 0
        Top = 0
        Sections = <
          item
            Text = 'Logradouro'
            Width = 200
          end
          item
            Text = 'Munic'#237'pio'
            Width = 120
          end>
      end
    end
  end
  object btnSalvar: TButton
    Left = 8
    Top = 440
    Caption = '&Salvar'
  end
end
