object frmPrincipal: TfrmPrincipal
  Left = 0
  Top = 0
  Caption = 'Sistema de Gestão Comercial'
  ClientHeight = 600
  ClientWidth = 800
  Menu = mnuPrincipal
  object mnuPrincipal: TMainMenu
    object mniCadastros: TMenuItem
      Caption = '&Cadastros'
      object mniClientes: TMenuItem
        Caption = 'Clientes'
        Hint = 'Cadastro de clientes'
      end
      object mniFornecedores: TMenuItem
        Caption = 'Fornecedores'
      end
    end
    object mniMovimentos: TMenuItem
      Caption = '&Movimentação'
      object mniPedidos: TMenuItem
        Caption = 'Pedidos de venda'
      end
    end
    object mniAjuda: TMenuItem
      Caption = 'Aj&uda'
      object mniSobre: TMenuItem
        Caption = 'Sobre o sistema...'
      end
    end
  end
  object stbPrincipal: TStatusBar
    Left = 0
    Top = 580
    SimpleText = 'Conectado ao servidor'
  end
end
