object frmPedido: TfrmPedido
  Left = 240
  Top = 160
  Caption = 'Pedido de Venda'
  ClientHeight = 420
  ClientWidth = 640
  Menu = mnuPedido
  object lblCodTela: TLabel
    Left = 560
    Top = 4
    Caption = 'VEN00100'
  end
  object lblCliente: TLabel
    Left = 8
    Top = 12
    Caption = 'Cliente:'
  end
  object Label1: TLabel
    Left = 8
    Top = 40
    Caption = 'Label1'
  end
  object edtCliente: TEdit
    Left = 80
    Top = 8
    Hint = 'Código ou nome do cliente'
    Text = ''
  end
  object btnSalvar: TButton
    Left = 8
    Top = 380
    Caption = '&Salvar'
    Hint = 
      'Grava o pedido e o envia para a aprovação do gerente de vendas, ' +
      'que recebe um aviso por e-mail.'
  end
  object btnCancelar: TButton
    Left = 96
    Top = 380
    Caption = 'Cancelar'
    Hint = 'Descarta as alterações'#13#10'feitas desde a última gravação'
  end
  object grdItens: TDBGrid
    Left = 8
    Top = 72
    Columns = <
      item
        Expanded = False
        FieldName = 'CDPRODUTO'
        Title.Caption = 'Código'
        Width = 60
      end
      item
        Expanded = False
        FieldName = 'DSPRODUTO'
        Title.Caption = 'Descrição do produto'
        Width = 240
      end
      item
        Expanded = False
        FieldName = 'VLUNITARIO'
        Title.Caption = 'Preço unitário'
      end>
  end
  object stbPedido: TStatusBar
    Left = 0
    Top = 400
    Panels = <
      item
        Text = 'Pronto'
        Width = 120
      end
      item
        Text = 'Pedido não gravado'
        Width = 200
      end>
  end
  object mnuPedido: TMainMenu
    object mniArquivo: TMenuItem
      Caption = '&Arquivo'
      object mniNovo: TMenuItem
        Caption = '&Novo pedido'
        Hint = 'Abre um pedido em branco'
      end
      object mniSep1: TMenuItem
        Caption = '-'
      end
      object mniFechar: TMenuItem
        Caption = '&Fechar'
      end
    end
  end
end
